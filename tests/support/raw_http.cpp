#include "support/raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "support/time_scale.h"

namespace quintalis::testing {

RawConnection::RawConnection(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

RawConnection::~RawConnection() {
    if (fd_ >= 0) ::close(fd_);
}

void RawConnection::send(const std::string& bytes) {
    size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

void RawConnection::finishSending() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

std::optional<std::string> RawConnection::readAll(int timeoutMs) {
    if (fd_ < 0) return std::nullopt;
    std::string out;
    char buffer[65536];
    for (;;) {
        pollfd waiting{fd_, POLLIN, 0};
        if (::poll(&waiting, 1, scaledMillis(timeoutMs)) <= 0) return std::nullopt;
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return out;
        out.append(buffer, static_cast<size_t>(n));
    }
}

std::optional<std::string> RawConnection::read(size_t count, int timeoutMs) {
    if (fd_ < 0) return std::nullopt;
    std::string out(count, '\0');
    size_t got = 0;
    while (got < count) {
        pollfd waiting{fd_, POLLIN, 0};
        if (::poll(&waiting, 1, scaledMillis(timeoutMs)) <= 0) return std::nullopt;
        ssize_t n = ::recv(fd_, out.data() + got, count - got, 0);
        if (n <= 0) return std::nullopt;
        got += static_cast<size_t>(n);
    }
    return out;
}

bool RawConnection::closedWithoutReply(int timeoutMs) {
    auto reply = readAll(timeoutMs);
    return reply && reply->empty();
}

bool RawConnection::staysSilent(int timeoutMs) {
    pollfd waiting{fd_, POLLIN, 0};
    return ::poll(&waiting, 1, timeoutMs) == 0;
}

std::string roundTrip(uint16_t port, const std::string& request) {
    RawConnection connection(port);
    connection.send(request);
    return connection.readAll().value_or("");
}

ParsedReply parseReply(const std::string& raw) {
    ParsedReply reply;
    auto split = raw.find("\r\n\r\n");
    reply.head = raw.substr(0, split);
    if (split != std::string::npos) reply.body = raw.substr(split + 4);
    if (raw.size() > 12) reply.status = std::atoi(raw.substr(9, 3).c_str());
    return reply;
}

uint16_t freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace quintalis::testing
