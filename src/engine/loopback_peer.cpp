#include "engine/loopback_peer.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace quintalis {
namespace {

// The netlink socket of one question, closed whatever happens.
class DiagSocket {
public:
    DiagSocket() : fd_(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {}
    ~DiagSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    DiagSocket(const DiagSocket&) = delete;
    DiagSocket& operator=(const DiagSocket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// The client's socket is the one whose source is our remote end and whose
// destination is our local end.
bool describeClient(const ConnectionEnds& ends, inet_diag_req_v2& request) {
    const int family = ends.local.ss_family;
    if (family != ends.remote.ss_family) return false;
    request.sdiag_family = static_cast<uint8_t>(family);
    // The same for both families but for the address type.
    auto fill = [&request](const auto& localPort, const auto& remotePort, const auto& localAddress,
                            const auto& remoteAddress) {
        request.id.idiag_sport = remotePort;
        request.id.idiag_dport = localPort;
        std::memcpy(request.id.idiag_src, &remoteAddress, sizeof remoteAddress);
        std::memcpy(request.id.idiag_dst, &localAddress, sizeof localAddress);
        return true;
    };
    if (family == AF_INET) {
        const auto& local = reinterpret_cast<const sockaddr_in&>(ends.local);
        const auto& remote = reinterpret_cast<const sockaddr_in&>(ends.remote);
        return fill(local.sin_port, remote.sin_port, local.sin_addr, remote.sin_addr);
    }
    if (family == AF_INET6) {
        const auto& local = reinterpret_cast<const sockaddr_in6&>(ends.local);
        const auto& remote = reinterpret_cast<const sockaddr_in6&>(ends.remote);
        return fill(local.sin6_port, remote.sin6_port, local.sin6_addr, remote.sin6_addr);
    }
    return false;
}

}  // namespace

LoopbackPeer loopbackPeer(const ConnectionEnds& ends) {
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;  // one socket, looked up exactly: no dump
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0u;
    message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    if (!describeClient(ends, message.request)) return LoopbackPeer::unknown;

    DiagSocket diag;
    if (diag.fd() < 0) return LoopbackPeer::unknown;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(diag.fd(), &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
        return LoopbackPeer::unknown;
    }
    alignas(nlmsghdr) std::array<char, 8192> reply{};
    ssize_t got;
    do {
        got = ::recv(diag.fd(), reply.data(), reply.size(), 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return LoopbackPeer::unknown;
    // NLMSG_OK and NLMSG_NEXT walk the reply with a signed count against the
    // kernel's unsigned lengths; the same walk, in sizes.
    size_t left = static_cast<size_t>(got);
    auto whole = [&left](const nlmsghdr* header) {
        return left >= sizeof(nlmsghdr) && header->nlmsg_len >= sizeof(nlmsghdr) && header->nlmsg_len <= left;
    };
    auto next = [&left](const nlmsghdr* header) {
        const size_t step = std::min<size_t>(NLMSG_ALIGN(header->nlmsg_len), left);
        left -= step;
        return reinterpret_cast<const nlmsghdr*>(reinterpret_cast<const char*>(header) + step);
    };
    for (auto* header = reinterpret_cast<const nlmsghdr*>(reply.data()); whole(header); header = next(header)) {
        if (header->nlmsg_type == NLMSG_ERROR) {
            auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
            // No such socket: it has been closed and forgotten.
            return error->error == -ENOENT ? LoopbackPeer::gone : LoopbackPeer::unknown;
        }
        if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY) continue;
        auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
        // A socket no process holds any more (closed, its owner killed) has
        // no inode, and lingers only to finish TCP's goodbye.
        const bool orphaned = found->idiag_inode == 0;
        const bool ending = found->idiag_state == TCP_TIME_WAIT || found->idiag_state == TCP_CLOSE;
        return orphaned || ending ? LoopbackPeer::gone : LoopbackPeer::holdsSocket;
    }
    return LoopbackPeer::unknown;
}

}  // namespace quintalis
