#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>

namespace quintalis {

// Work that stopped because it was cancelled.
class Cancelled : public std::runtime_error {
public:
    Cancelled() : std::runtime_error("cancelled") {}
};

// A request to stop work under way, made from any thread. Whoever blocks
// for the work (a request on the network, a wait) registers how to wake
// itself, so a cancel ends the block at once instead of at its next look.
// Every member may be called from any thread; wakers run on the thread
// that cancels.
class Cancellation {
public:
    Cancellation() = default;
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    void cancel();
    bool cancelled() const;
    // Throws Cancelled once cancel() has been called.
    void check() const;

    // Keeps a waker registered while it lives.
    class Waking {
    public:
        Waking(Waking&& other) noexcept;
        Waking& operator=(Waking&&) = delete;
        ~Waking();

    private:
        friend class Cancellation;
        Waking(const Cancellation* owner, int id) : owner_(owner), id_(id) {}
        const Cancellation* owner_;
        int id_;
    };
    // Runs `wake` when cancelled, at once when that has already happened.
    [[nodiscard]] Waking onCancel(std::function<void()> wake) const;

    // One that is never cancelled, for work nobody can stop.
    static const Cancellation& never();

private:
    mutable std::mutex mutex_;
    bool cancelled_ = false;
    mutable int nextID_ = 0;
    mutable std::map<int, std::function<void()>> wakers_;
};

}  // namespace quintalis
