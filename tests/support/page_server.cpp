#include "support/page_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "base/text.h"

namespace quintalis::testing {

PageServer::PageServer(std::map<std::string, File> files) : files_(std::move(files)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener_, 64) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

PageServer::~PageServer() {
    stopping_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    ::close(listener_);
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(mutex_);
        connections.swap(connections_);
    }
    for (auto& connection : connections) connection.join();
}

std::optional<std::string> PageServer::waitForPost(const std::string& path, double seconds) {
    std::unique_lock lock(mutex_);
    posted_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return posts_.contains(path); });
    auto found = posts_.find(path);
    return found == posts_.end() ? std::nullopt : std::optional(found->second);
}

void PageServer::acceptLoop() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0) continue;
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        connections_.emplace_back([this, fd] { serve(fd); });
    }
}

void PageServer::serve(int fd) {
    // A browser opens connections ahead of need; one that stays silent is dropped.
    timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string received;
    char chunk[8192];
    size_t headEnd = std::string::npos;
    size_t wanted = 0;
    while (!stopping_) {
        if (headEnd == std::string::npos && (headEnd = received.find("\r\n\r\n")) != std::string::npos) {
            std::string head = asciiLowercase(received.substr(0, headEnd));
            if (auto at = head.find("\r\ncontent-length:"); at != std::string::npos) {
                wanted = std::strtoul(head.c_str() + at + 17, nullptr, 10);
            }
        }
        if (headEnd != std::string::npos && received.size() >= headEnd + 4 + wanted) break;
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        received.append(chunk, static_cast<size_t>(n));
    }
    if (headEnd != std::string::npos && received.size() >= headEnd + 4 + wanted) {
        std::string line = received.substr(0, received.find("\r\n"));
        auto space = line.find(' ');
        std::string method = line.substr(0, space);
        std::string path = line.substr(space + 1, line.find(' ', space + 1) - space - 1);
        path = path.substr(0, path.find('?'));
        File answer{"text/plain", ""};
        int status = 404;
        if (method == "POST") {
            std::lock_guard lock(mutex_);
            posts_.emplace(path, received.substr(headEnd + 4, wanted));
            posted_.notify_all();
            status = 200;
        } else if (auto file = files_.find(path); file != files_.end()) {
            answer = file->second;
            status = 200;
        }
        std::string reply = "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Not Found") +
                            "\r\nContent-Type: " + answer.contentType + "\r\nContent-Length: " +
                            std::to_string(answer.body.size()) + "\r\nConnection: close\r\n\r\n" + answer.body;
        for (size_t sent = 0; sent < reply.size();) {
            ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
    }
    ::close(fd);
}

}  // namespace quintalis::testing
