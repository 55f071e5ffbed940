#pragma once

#include <memory>

namespace quintalis {

// Lets work that an object hands to a queue or a callback find out, when it
// runs, whether the object has gone meanwhile. The owner keeps a Liveness
// and ends it first thing in its destructor; the work keeps a Watch.
//
// Its limit: a Watch answers for the moment of the question only. It does
// not keep the owner alive, so `if (watch.alive()) use(owner)` is safe only
// when the owner cannot go while that work runs: the owner is destroyed on
// the queue that runs the work, or its destructor waits for that queue (or
// for the callback's thread) after calling end().
class Liveness {
public:
    class Watch {
    public:
        bool alive() const { return !flag_.expired(); }

    private:
        friend class Liveness;
        explicit Watch(std::weak_ptr<const bool> flag) : flag_(std::move(flag)) {}
        std::weak_ptr<const bool> flag_;
    };

    Watch watch() const { return Watch(flag_); }
    // From now on every Watch answers "gone". Call from the owner's destructor.
    void end() { flag_.reset(); }

private:
    std::shared_ptr<const bool> flag_ = std::make_shared<const bool>(true);
};

}  // namespace quintalis
