#include "platform/linux/bluez/notify_socket.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "base/thread_name.h"

namespace quintalis::bluez {

std::optional<std::pair<NotifySocket, int>> NotifySocket::open() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return std::nullopt;
    return std::pair<NotifySocket, int>(NotifySocket(fds[0]), fds[1]);
}

NotifySocket& NotifySocket::operator=(NotifySocket&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

NotifySocket::~NotifySocket() {
    if (fd_ >= 0) ::close(fd_);
}

NotifySocket::Sent NotifySocket::send(const std::vector<uint8_t>& packet) const {
    while (true) {
        ssize_t sent = ::send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) return Sent::sent;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS ? Sent::full : Sent::closed;
    }
}

bool NotifySocket::writable() const {
    pollfd entry{fd_, POLLOUT, 0};
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLOUT);
}

SocketWatch::SocketWatch() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    thread_ = std::thread([this] {
        nameCurrentThread("bluez.sockets");
        run();
    });
}

SocketWatch::~SocketWatch() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake();
    thread_.join();
    ::close(wakeFd_);
}

uint64_t SocketWatch::watch(int fd, Callback onClosed) {
    uint64_t id;
    {
        std::lock_guard lock(mutex_);
        id = ++lastId_;
        entries_[id] = Entry{fd, std::move(onClosed), nullptr};
    }
    wake();
    return id;
}

void SocketWatch::whenWritable(uint64_t id, Callback onWritable) {
    {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(id);
        if (found == entries_.end()) return;
        found->second.onWritable = std::move(onWritable);
    }
    wake();
}

void SocketWatch::unwatch(uint64_t id) {
    {
        // Callbacks run under the lock, so none of this entry runs after this.
        std::lock_guard lock(mutex_);
        entries_.erase(id);
    }
    wake();
}

void SocketWatch::wake() {
    uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void SocketWatch::run() {
    std::vector<pollfd> polled;
    std::vector<uint64_t> ids;
    while (true) {
        polled.assign(1, pollfd{wakeFd_, POLLIN, 0});
        ids.assign(1, 0);
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            for (const auto& [id, entry] : entries_) {
                polled.push_back(pollfd{entry.fd, static_cast<short>(entry.onWritable ? POLLOUT : 0), 0});
                ids.push_back(id);
            }
        }
        if (::poll(polled.data(), polled.size(), -1) < 0 && errno != EINTR) return;
        if (polled[0].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] auto read = ::read(wakeFd_, &count, sizeof count);
        }
        std::lock_guard lock(mutex_);
        for (size_t i = 1; i < polled.size(); ++i) {
            // An entry unwatched meanwhile (its descriptor perhaps reused) is skipped.
            auto found = entries_.find(ids[i]);
            if (found == entries_.end()) continue;
            Entry& entry = found->second;
            if (polled[i].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                auto onClosed = std::move(entry.onClosed);
                entries_.erase(found);
                if (onClosed) onClosed();
            } else if ((polled[i].revents & POLLOUT) && entry.onWritable) {
                std::exchange(entry.onWritable, nullptr)();
            }
        }
    }
}

}  // namespace quintalis::bluez
