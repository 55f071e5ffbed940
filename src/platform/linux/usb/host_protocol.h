#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "platform/usb/messages.h"

namespace quintalis {

// The computer's half of the phone's screen protocol, without I/O: each
// message in gives the messages to send back at once (every request answered
// with the right clock, NEED after every frame) and what it brought (a new
// format, a frame). Throws usbscreen::WireError when the session cannot go on
// (an unknown request, a ping out of turn). Not thread-safe: the reader owns it.
class HostProtocol {
public:
    explicit HostProtocol(Clock& clock);

    struct Step {
        std::vector<usbscreen::Bytes> send;
        std::optional<usbscreen::FormatDescription> format;  // a new or changed video format
        std::optional<usbscreen::Bytes> frame;               // one access unit, NAL units with 4-byte lengths
        std::string skipped;                                 // why a message was passed over, for the log
    };

    Step receive(const usbscreen::Message& message);

    // Asks the phone to stop audio and video; the stop request and releases follow.
    std::vector<usbscreen::Bytes> stop() const;
    // The repeated stop notice sent once the phone has released its clocks.
    usbscreen::Bytes lastStop() const { return usbscreen::host::videoOff(); }

    bool pinged() const { return pinged_; }
    bool audioClockSeen() const { return deviceAudioClock_ != 0; }
    bool videoFormatKnown() const { return format_.has_value(); }
    int releases() const { return releases_; }

private:
    Step request(const usbscreen::Message& message);
    Step notice(const usbscreen::Message& message);
    uint64_t newClock();

    Clock& clock_;
    bool pinged_ = false;
    uint64_t deviceAudioClock_ = 0, deviceVideoClock_ = 0;
    uint64_t hostAudioClock_ = 0, hostVideoClock_ = 0, hostClock_ = 0;
    uint64_t nextClock_ = 0x5154A0001000;
    MonotonicTime clockStart_{};
    std::optional<usbscreen::FormatDescription> format_;
    int releases_ = 0;
};

}  // namespace quintalis
