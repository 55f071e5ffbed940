#pragma once

#include <deque>

#include "platform/usb/media.h"

namespace quintalis::usbscreen {

// Top-level magics and the subtypes of requests (sync) and notices (asyn).
namespace magic {
constexpr uint32_t ping = fourCC("ping"), sync = fourCC("sync"), reply = fourCC("rply"), async = fourCC("asyn");
}
namespace subtype {
// Requests from the phone.
constexpr uint32_t audioClock = fourCC("cwpa"), audioFormat = fourCC("afmt"), videoClock = fourCC("cvrp"),
                   clock = fourCC("clok"), time = fourCC("time"), skew = fourCC("skew"), go = fourCC("go! "),
                   stop = fourCC("stop");
// Notices from the phone.
constexpr uint32_t feed = fourCC("feed"), eat = fourCC("eat!"), setProperty = fourCC("sprp"), rate = fourCC("srat"),
                   timeBase = fourCC("tbas"), timeJump = fourCC("tjmp"), released = fourCC("rels");
// Notices from the host.
constexpr uint32_t videoOn = fourCC("hpd1"), audioOn = fourCC("hpa1"), need = fourCC("need"), videoOff = fourCC("hpd0"),
                   audioOff = fourCC("hpa0");
}  // namespace subtype

// The clock ref that means "no clock".
constexpr uint64_t kNoClock = 1;

// One message off the wire. `payload` is what follows the header: after the
// correlation id of a request or reply (and a reply's status), after the
// subtype of a notice; empty for a ping.
struct Message {
    uint32_t magic = 0;
    uint64_t clock = 0;        // sync, asyn
    uint32_t subtype = 0;      // sync, asyn
    uint64_t correlation = 0;  // sync, rply
    uint32_t status = 0;       // rply
    uint32_t pingA = 0, pingB = 0;
    Bytes payload;
};

// Parses one whole message (its length field included). Throws WireError for
// a length that disagrees with the bytes, an unknown magic or a short header.
Message parseMessage(const uint8_t* data, size_t size);
inline Message parseMessage(const Bytes& bytes) { return parseMessage(bytes.data(), bytes.size()); }

// Cuts the IN pipe's byte stream into messages, whatever the transfer
// boundaries: feed it what arrives, then take whole messages while there are.
// A length field outside [16, kMaxMessage] is invalid and the stream is lost.
class MessageFramer {
public:
    static constexpr size_t kMaxMessage = 64u << 20;
    enum class Result { complete, needMore, invalid };

    void feed(const uint8_t* data, size_t size);
    // complete: `message` holds the next message's bytes; needMore: wait for
    // more; invalid: the stream cannot be resynchronised.
    Result next(Bytes& message);
    size_t buffered() const { return buffer_.size() - start_; }

private:
    Bytes buffer_;
    size_t start_ = 0;
};

// Messages the host sends, byte for byte as the phone expects them.
namespace host {
Bytes ping();
Bytes replyClock(uint64_t correlation, uint64_t clock);          // cwpa, cvrp, clok: 28 bytes
Bytes replyTime(uint64_t correlation, const CMTime& time);       // time: 44 bytes
Bytes replySkew(uint64_t correlation, double skew);              // skew: 28 bytes
Bytes replyAudioFormat(uint64_t correlation);                    // afmt: 62 bytes, {Error: 0}
Bytes replyEmpty(uint64_t correlation);                          // go!, stop: 24 bytes
Bytes videoOn();                                                 // hpd1, 219 bytes
Bytes audioOn(uint64_t deviceAudioClock);                        // hpa1, 337 bytes
Bytes need(uint64_t deviceVideoClock);                           // 20 bytes
Bytes videoOff();                                                // hpd0
Bytes audioOff(uint64_t deviceAudioClock);                       // hpa0
}  // namespace host

// Messages the phone sends.
namespace device {
Bytes request(uint64_t clock, uint32_t subtype, uint64_t correlation, const Bytes& payload = {});
Bytes notice(uint64_t clock, uint32_t subtype, const Bytes& payload = {});
Bytes ping();
Bytes audioClockRequest(uint64_t correlation, uint64_t deviceAudioClock);
Bytes audioFormatRequest(uint64_t hostAudioClock, uint64_t correlation);
Bytes videoClockRequest(uint64_t correlation, uint64_t deviceVideoClock, const FormatDescription& format);
Bytes feed(uint64_t hostVideoClock, const SampleBuffer& sample);
Bytes setProperty(uint64_t hostVideoClock, const std::string& key, bool value);
Bytes rate(uint64_t hostVideoClock, const CMTime& anchor);
Bytes timeBase(uint64_t hostVideoClock, uint64_t other);
Bytes released(uint64_t clock);
// The 40-byte stream description of the phone's audio: 48 kHz 16-bit stereo.
Bytes audioStreamDescription(uint32_t flags);
}  // namespace device

// The format description inside a cvrp request's dictionary.
std::optional<FormatDescription> formatOfVideoClockRequest(const Message& request, uint64_t& deviceVideoClock);

}  // namespace quintalis::usbscreen
