#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace quintalis::bluez {

// Our end of a notify socket pair. bluetoothd holds the other end (handed
// over by AcquireNotify) and sends each packet written here as one
// notification. Sequenced packets keep report boundaries; the end is
// non-blocking, so a full socket says so instead of stalling the queue.
class NotifySocket {
public:
    enum class Sent { sent, full, closed };

    // Our end, and the peer's descriptor for the caller to hand over.
    static std::optional<std::pair<NotifySocket, int>> open();

    NotifySocket(NotifySocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    NotifySocket& operator=(NotifySocket&& other) noexcept;
    ~NotifySocket();

    int fd() const { return fd_; }
    Sent send(const std::vector<uint8_t>& packet) const;
    // True when a packet would be accepted now.
    bool writable() const;

private:
    explicit NotifySocket(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// Watches notify sockets from a thread of its own ("bluez.sockets") for the
// two things nothing else reports: the peer hanging up (bluetoothd closes
// the socket when the last device turns notifications off) and room coming
// back after a full socket.
//
// Threads: any thread may call it. Callbacks run on the watch thread, at
// most once per registration or request; keep them short (post elsewhere).
// After unwatch returns, no callback of that registration starts.
class SocketWatch {
public:
    using Callback = std::function<void()>;

    SocketWatch();
    ~SocketWatch();

    // Registers a socket; onClosed runs once when its peer hangs up.
    uint64_t watch(int fd, Callback onClosed);
    // onWritable runs once when the socket has room again.
    void whenWritable(uint64_t id, Callback onWritable);
    void unwatch(uint64_t id);

private:
    struct Entry {
        int fd;
        Callback onClosed;
        Callback onWritable;
    };

    void run();
    void wake();

    std::mutex mutex_;
    std::map<uint64_t, Entry> entries_;  // guarded by mutex_
    uint64_t lastId_ = 0;                // guarded by mutex_
    bool stopping_ = false;              // guarded by mutex_
    int wakeFd_ = -1;
    std::thread thread_;
};

}  // namespace quintalis::bluez
