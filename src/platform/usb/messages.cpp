#include "platform/usb/messages.h"

namespace quintalis::usbscreen {
namespace {

constexpr size_t kPingSize = 16;
constexpr size_t kRequestHeader = 28;  // length, magic, clock, subtype, correlation
constexpr size_t kReplyHeader = 20;    // length, magic, correlation, status
constexpr size_t kNoticeHeader = 20;   // length, magic, clock, subtype

Bytes replyWith(uint64_t correlation, const Bytes& payload) {
    ByteWriter out;
    out.u32(static_cast<uint32_t>(kReplyHeader + payload.size()));
    out.u32(magic::reply);
    out.u64(correlation);
    out.u32(0);
    out.append(payload);
    return out.take();
}

Bytes dictionaryBytes(const Dictionary& dictionary) {
    ByteWriter out;
    writeDictionary(out, dictionary);
    return out.take();
}

Dictionary cmTimeDictionary(int64_t value, int32_t timescale) {
    Dictionary time;
    time.add(std::string("flags"), Value::of(Number::ofInt32(1)));
    time.add(std::string("value"), Value::of(Number::ofInt64(value)));
    time.add(std::string("timescale"), Value::of(Number::ofInt32(timescale)));
    time.add(std::string("epoch"), Value::of(Number::ofInt64(0)));
    return time;
}

}  // namespace

Message parseMessage(const uint8_t* data, size_t size) {
    ByteReader reader(data, size);
    uint32_t length = reader.u32();
    if (length != size) throw WireError("a message says " + std::to_string(length) + " bytes but has " + std::to_string(size));
    Message message;
    message.magic = reader.u32();
    switch (message.magic) {
        case magic::ping:
            if (size != kPingSize) throw WireError("a ping of " + std::to_string(size) + " bytes");
            message.pingA = reader.u32();
            message.pingB = reader.u32();
            return message;
        case magic::sync:
            message.clock = reader.u64();
            message.subtype = reader.u32();
            message.correlation = reader.u64();
            break;
        case magic::reply:
            message.correlation = reader.u64();
            message.status = reader.u32();
            break;
        case magic::async:
            message.clock = reader.u64();
            message.subtype = reader.u32();
            break;
        default:
            throw WireError("a message of unknown kind " + fourCCText(message.magic));
    }
    message.payload = reader.bytes(reader.remaining());
    return message;
}

void MessageFramer::feed(const uint8_t* data, size_t size) {
    // Drop what was consumed before growing, so the buffer holds at most one
    // message plus one transfer.
    if (start_ > 0 && start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    } else if (start_ > (1u << 20)) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), data, data + size);
}

MessageFramer::Result MessageFramer::next(Bytes& message) {
    if (buffered() < 4) return Result::needMore;
    const uint8_t* p = buffer_.data() + start_;
    uint32_t length = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
                      static_cast<uint32_t>(p[3]) << 24;
    if (length < kPingSize || length > kMaxMessage) return Result::invalid;
    if (buffered() < length) return Result::needMore;
    message.assign(p, p + length);
    start_ += length;
    return Result::complete;
}

namespace host {

Bytes ping() {
    ByteWriter out;
    out.u32(kPingSize);
    out.u32(magic::ping);
    out.u32(0);
    out.u32(1);
    return out.take();
}

Bytes replyClock(uint64_t correlation, uint64_t clock) {
    ByteWriter payload;
    payload.u64(clock);
    return replyWith(correlation, payload.take());
}

Bytes replyTime(uint64_t correlation, const CMTime& time) {
    ByteWriter payload;
    writeCMTime(payload, time);
    return replyWith(correlation, payload.take());
}

Bytes replySkew(uint64_t correlation, double skew) {
    ByteWriter payload;
    payload.f64(skew);
    return replyWith(correlation, payload.take());
}

Bytes replyAudioFormat(uint64_t correlation) {
    Dictionary answer;
    answer.add(std::string("Error"), Value::of(Number::ofInt32(0)));
    return replyWith(correlation, dictionaryBytes(answer));
}

Bytes replyEmpty(uint64_t correlation) { return replyWith(correlation, Bytes(4, 0)); }

Bytes videoOn() {
    Dictionary size;
    size.add(std::string("Width"), Value::of(Number::ofFloat64(1920.0)));
    size.add(std::string("Height"), Value::of(Number::ofFloat64(1200.0)));
    Dictionary display;
    display.add(std::string("Valeria"), Value::of(true));
    display.add(std::string("HEVCDecoderSupports444"), Value::of(true));
    display.add(std::string("DisplaySize"), Value::of(std::move(size)));
    return device::notice(kNoClock, subtype::videoOn, dictionaryBytes(display));
}

Bytes audioOn(uint64_t deviceAudioClock) {
    ByteWriter formats;
    formats.append(device::audioStreamDescription(12));
    formats.f64(48000.0);
    formats.f64(48000.0);
    Dictionary audio;
    // The double one step above 0.073, as the phone's own hosts send it.
    audio.add(std::string("BufferAheadInterval"), Value::of(Number::ofFloat64(0.07300000000000001)));
    audio.add(std::string("deviceUID"), Value::of(std::string("Valeria")));
    audio.add(std::string("ScreenLatency"), Value::of(Number::ofFloat64(0.04)));
    audio.add(std::string("formats"), Value::ofData(formats.take()));
    audio.add(std::string("EDIDAC3Support"), Value::of(Number::ofInt32(0)));
    audio.add(std::string("deviceName"), Value::of(std::string("Valeria")));
    return device::notice(deviceAudioClock, subtype::audioOn, dictionaryBytes(audio));
}

Bytes need(uint64_t deviceVideoClock) { return device::notice(deviceVideoClock, subtype::need); }
Bytes videoOff() { return device::notice(kNoClock, subtype::videoOff); }
Bytes audioOff(uint64_t deviceAudioClock) { return device::notice(deviceAudioClock, subtype::audioOff); }

}  // namespace host

namespace device {

Bytes request(uint64_t clock, uint32_t subtype, uint64_t correlation, const Bytes& payload) {
    ByteWriter out;
    out.u32(static_cast<uint32_t>(kRequestHeader + payload.size()));
    out.u32(magic::sync);
    out.u64(clock);
    out.u32(subtype);
    out.u64(correlation);
    out.append(payload);
    return out.take();
}

Bytes notice(uint64_t clock, uint32_t subtype, const Bytes& payload) {
    ByteWriter out;
    out.u32(static_cast<uint32_t>(kNoticeHeader + payload.size()));
    out.u32(magic::async);
    out.u64(clock);
    out.u32(subtype);
    out.append(payload);
    return out.take();
}

Bytes ping() { return host::ping(); }

Bytes audioClockRequest(uint64_t correlation, uint64_t deviceAudioClock) {
    ByteWriter payload;
    payload.u64(deviceAudioClock);
    return request(kNoClock, subtype::audioClock, correlation, payload.take());
}

Bytes audioStreamDescription(uint32_t flags) {
    ByteWriter out;
    out.f64(48000.0);
    out.u32(fourCC("lpcm"));
    out.u32(flags);
    out.u32(4);   // bytes per packet
    out.u32(1);   // frames per packet
    out.u32(4);   // bytes per frame
    out.u32(2);   // channels
    out.u32(16);  // bits per channel
    out.u32(0);
    return out.take();
}

Bytes audioFormatRequest(uint64_t hostAudioClock, uint64_t correlation) {
    return request(hostAudioClock, subtype::audioFormat, correlation, audioStreamDescription(0x4C));
}

Bytes videoClockRequest(uint64_t correlation, uint64_t deviceVideoClock, const FormatDescription& format) {
    Dictionary settings;
    settings.add(std::string("PreparedQueueHighWaterLevel"), Value::of(cmTimeDictionary(5, 30)));
    settings.add(std::string("PreparedQueueLowWaterLevel"), Value::of(cmTimeDictionary(3, 30)));
    settings.add(std::string("FormatDescription"), Value::of(format));
    ByteWriter payload;
    payload.u64(deviceVideoClock);
    payload.append(dictionaryBytes(settings));
    return request(kNoClock, subtype::videoClock, correlation, payload.take());
}

Bytes feed(uint64_t hostVideoClock, const SampleBuffer& sample) {
    ByteWriter payload;
    writeSampleBuffer(payload, sample);
    return notice(hostVideoClock, subtype::feed, payload.take());
}

Bytes setProperty(uint64_t hostVideoClock, const std::string& key, bool value) {
    Dictionary entry;
    entry.add(key, Value::of(value));
    Bytes wrapped = dictionaryBytes(entry);
    // A single entry without its dictionary header.
    return notice(hostVideoClock, subtype::setProperty, Bytes(wrapped.begin() + 8, wrapped.end()));
}

Bytes rate(uint64_t hostVideoClock, const CMTime& anchor) {
    ByteWriter payload;
    payload.f32(1.0f);
    payload.f32(1.0f);
    writeCMTime(payload, anchor);
    return notice(hostVideoClock, subtype::rate, payload.take());
}

Bytes timeBase(uint64_t hostVideoClock, uint64_t other) {
    ByteWriter payload;
    payload.u64(other);
    return notice(hostVideoClock, subtype::timeBase, payload.take());
}

Bytes released(uint64_t clock) { return notice(clock, subtype::released); }

}  // namespace device

std::optional<FormatDescription> formatOfVideoClockRequest(const Message& request, uint64_t& deviceVideoClock) {
    ByteReader reader(request.payload);
    deviceVideoClock = reader.u64();
    if (reader.remaining() == 0) return std::nullopt;
    Atom dict = readAtom(reader);
    if (dict.magic != fourCC("dict")) throw WireError("the video clock request carries " + fourCCText(dict.magic) + ", not a dictionary");
    Dictionary settings = parseDictionaryBody(dict.body);
    const Value* format = settings.find(std::string("FormatDescription"));
    if (!format || format->kind != Value::Kind::format) return std::nullopt;
    return *format->format;
}

}  // namespace quintalis::usbscreen
