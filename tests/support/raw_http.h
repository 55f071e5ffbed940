#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quintalis::testing {

// A blocking loopback TCP client for talking to servers byte by byte.
class RawConnection {
public:
    explicit RawConnection(uint16_t port);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return fd_ >= 0; }
    void send(const std::string& bytes);
    void finishSending();
    // Reads until the peer closes or `timeoutMs` passes; nothing on timeout.
    std::optional<std::string> readAll(int timeoutMs = 5000);
    // Reads exactly `count` bytes, leaving the rest; nothing on timeout or close.
    std::optional<std::string> read(size_t count, int timeoutMs = 5000);
    // True when the peer closed without sending anything within the timeout.
    bool closedWithoutReply(int timeoutMs = 5000);
    // True when nothing at all happens within the timeout.
    bool staysSilent(int timeoutMs);

private:
    int fd_ = -1;
};

// Sends a whole request and returns the whole reply ("" when none came).
std::string roundTrip(uint16_t port, const std::string& request);

struct ParsedReply {
    int status = 0;
    std::string head;
    std::string body;
};
ParsedReply parseReply(const std::string& raw);

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
uint16_t freePort();

}  // namespace quintalis::testing
