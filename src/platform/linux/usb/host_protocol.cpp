#include "platform/linux/usb/host_protocol.h"

namespace quintalis {

using namespace usbscreen;

namespace {

bool sameVideo(const FormatDescription& a, const FormatDescription& b) {
    const std::string* x = a.avcC();
    const std::string* y = b.avcC();
    return a.width == b.width && a.height == b.height && a.codec == b.codec && x && y && *x == *y;
}

// A skew answer saying the clocks agree: this side plays no audio, so there
// is nothing to measure, and the phone wants a number near 48000.
constexpr double kNominalSkew = 48000.0;

}  // namespace

HostProtocol::HostProtocol(Clock& clock) : clock_(clock) {}

uint64_t HostProtocol::newClock() { return nextClock_ += 0x1010; }

HostProtocol::Step HostProtocol::receive(const Message& message) {
    switch (message.magic) {
        case magic::ping: {
            if (pinged_) throw WireError("the iPhone pinged again mid-session");
            pinged_ = true;
            Step step;
            step.send.push_back(host::ping());
            return step;
        }
        case magic::sync:
            if (!pinged_) throw WireError("a request before the ping");
            return request(message);
        case magic::async:
            if (!pinged_) throw WireError("a notice before the ping");
            return notice(message);
        default:
            throw WireError("the iPhone sent " + fourCCText(message.magic) + ", which only a host sends");
    }
}

HostProtocol::Step HostProtocol::request(const Message& message) {
    Step step;
    ByteReader payload(message.payload);
    const uint64_t id = message.correlation;
    switch (message.subtype) {
        case subtype::audioClock:
            deviceAudioClock_ = payload.u64();
            hostAudioClock_ = newClock();
            step.send = {host::replyClock(id, hostAudioClock_), host::videoOn(), host::audioOn(deviceAudioClock_)};
            break;
        case subtype::audioFormat:
            step.send.push_back(host::replyAudioFormat(id));
            break;
        case subtype::videoClock: {
            auto format = formatOfVideoClockRequest(message, deviceVideoClock_);
            if (!format || format->mediaType != fourCC("vide")) throw WireError("the video clock request has no video format");
            if (format->codec != fourCC("avc1")) {
                throw WireError("the iPhone sends " + fourCCText(format->codec) + " video, which only H.264 ('avc1') receivers read");
            }
            hostVideoClock_ = newClock();
            step.send = {host::replyClock(id, hostVideoClock_), host::need(deviceVideoClock_)};
            format_ = format;
            step.format = std::move(format);
            break;
        }
        case subtype::clock:
            hostClock_ = newClock();
            clockStart_ = clock_.now();
            step.send.push_back(host::replyClock(id, hostClock_));
            break;
        case subtype::time: {
            auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(clock_.now() - clockStart_).count();
            step.send.push_back(host::replyTime(id, CMTime::nanoseconds(elapsed)));
            break;
        }
        case subtype::skew:
            step.send.push_back(host::replySkew(id, kNominalSkew));
            break;
        case subtype::go:
        case subtype::stop:
            step.send.push_back(host::replyEmpty(id));
            break;
        default:
            // Nothing tells what a reply to it would hold.
            throw WireError("the iPhone asked " + fourCCText(message.subtype) + ", a request this program does not know");
    }
    return step;
}

HostProtocol::Step HostProtocol::notice(const Message& message) {
    Step step;
    switch (message.subtype) {
        case subtype::feed: {
            // A frame is always answered, even one that cannot be read, or the phone stops sending.
            if (deviceVideoClock_ == 0) {
                step.skipped = "a frame before the video format";
                return step;
            }
            step.send.push_back(host::need(deviceVideoClock_));
            try {
                ByteReader payload(message.payload);
                Atom buffer = readAtom(payload);
                if (buffer.magic != fourCC("sbuf")) throw WireError("a frame without its sample buffer");
                SampleBuffer sample = parseSampleBufferBody(buffer.body);
                if (sample.format && sample.format->mediaType == fourCC("vide") && !(format_ && sameVideo(*format_, *sample.format))) {
                    if (sample.format->codec != fourCC("avc1")) throw WireError("a frame of " + fourCCText(sample.format->codec) + " video");
                    format_ = sample.format;
                    step.format = sample.format;
                }
                if (sample.data && !sample.data->empty()) step.frame = std::move(sample.data);
            } catch (const WireError& error) {
                step.skipped = std::string("an unreadable frame: ") + error.what();
            }
            break;
        }
        case subtype::released:
            ++releases_;
            break;
        case subtype::eat:          // audio is answered but not played
        case subtype::setProperty:
        case subtype::rate:
        case subtype::timeBase:
        case subtype::timeJump:
            break;
        default:
            step.skipped = "an unknown notice " + fourCCText(message.subtype);
            break;
    }
    return step;
}

std::vector<Bytes> HostProtocol::stop() const {
    std::vector<Bytes> messages;
    if (deviceAudioClock_ != 0) messages.push_back(host::audioOff(deviceAudioClock_));
    messages.push_back(host::videoOff());
    return messages;
}

}  // namespace quintalis
