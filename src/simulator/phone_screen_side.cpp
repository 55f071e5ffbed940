#include "simulator/phone_screen_side.h"

#include "base/log.h"

namespace quintalis::simulator {
namespace {

// The phone paces its frames: at most 30 a second, and only new pictures.
constexpr auto kEncodeInterval = std::chrono::microseconds(33333);

}  // namespace

using namespace usbscreen;

PhoneScreenSide::PhoneScreenSide(const std::string& serial, PictureFeed pictures, const PhoneScreenFaults& faults,
                                 EventSink onEvent)
    : serial_(serial),
      pictures_(std::move(pictures)),
      faults_(faults),
      onEvent_(std::move(onEvent)),
      queue_("quintalis.usb-device." + serial_) {}

PhoneScreenSide::~PhoneScreenSide() {
    alive_.end();
    queue_.sync([this] { feed_.reset(); });
}

void PhoneScreenSide::stop() {
    queue_.sync([this] {
        feed_.reset();
        pending_.reset();
    });
    queue_.stop();
}

void PhoneScreenSide::open() {
    std::lock_guard lock(mutex_);
    ++session_;
    resetSessionLocked();
    readable_.notify_all();
}

void PhoneScreenSide::close() {
    std::lock_guard lock(mutex_);
    ++session_;
    out_.clear();
    resetSessionLocked();
    state_ = State::off;
    readable_.notify_all();
}

// Each session starts the phone's side afresh.
void PhoneScreenSide::resetSessionLocked() {
    state_ = State::idle;
    outstanding_.clear();
    sawAudioOn_ = sawVideoOn_ = sawAudioClockReply_ = sawAudioFormatReply_ = false;
    lastTime_ = INT64_MIN;
    framesSentThisStream_ = 0;
    stopPicturesLocked();
}

void PhoneScreenSide::receive(const uint8_t* data, size_t size) {
    std::lock_guard lock(mutex_);
    try {
        receiveLocked(parseMessage(data, size));
    } catch (const WireError& error) {
        violationLocked(std::string("unreadable host message: ") + error.what());
    }
}

PhoneScreenSide::ReadResult PhoneScreenSide::read(uint8_t* into, size_t capacity, size_t& got, Duration timeout) {
    std::unique_lock lock(mutex_);
    got = 0;
    const int session = session_;
    if (state_ == State::idle) {
        // A read pending on the cleared pipe is the phone's cue to ping.
        state_ = State::waitPing;
        if (!faults_.noPing) emitLocked(device::ping());
    }
    readable_.wait_for(lock, timeout, [&] { return !out_.empty() || session_ != session; });
    if (session_ != session) return ReadResult::closed;
    if (out_.empty()) return ReadResult::timeout;
    got = std::min(capacity, out_.size());
    std::copy_n(out_.begin(), got, into);
    out_.erase(out_.begin(), out_.begin() + static_cast<ptrdiff_t>(got));
    return ReadResult::data;
}

void PhoneScreenSide::emitLocked(Bytes bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    readable_.notify_all();
}

void PhoneScreenSide::violationLocked(std::string what) { violations_.push_back(std::move(what)); }

uint64_t PhoneScreenSide::newCorrelationLocked() { return nextCorrelation_ += 0x1F0; }

void PhoneScreenSide::requestLocked(uint64_t clock, uint32_t kind, const Bytes& payload) {
    uint64_t correlation = newCorrelationLocked();
    outstanding_[correlation] = kind;
    emitLocked(device::request(clock, kind, correlation, payload));
}

void PhoneScreenSide::receiveLocked(const Message& message) {
    if (state_ == State::off) return violationLocked("a message while the capture interface is off");
    if (message.magic == magic::ping) {
        if (state_ != State::waitPing) return violationLocked("a ping out of turn");
        onEvent_("ping");
        if (faults_.silentAfterPing) {
            state_ = State::audioClock;
            return;
        }
        uint64_t correlation = newCorrelationLocked();
        outstanding_[correlation] = subtype::audioClock;
        emitLocked(device::audioClockRequest(correlation, deviceAudioClock_));
        state_ = State::audioClock;
        return;
    }
    if (state_ == State::idle || state_ == State::waitPing) return violationLocked("a message before the ping exchange");
    if (message.magic == magic::reply) return replyLocked(message);
    if (message.magic == magic::async) return noticeLocked(message);
    violationLocked("the host sent " + fourCCText(message.magic));
}

void PhoneScreenSide::replyLocked(const Message& reply) {
    auto found = outstanding_.find(reply.correlation);
    if (found == outstanding_.end()) return violationLocked("a reply to no request");
    uint32_t kind = found->second;
    outstanding_.erase(found);
    if (reply.status != 0) violationLocked("a reply with status " + std::to_string(reply.status));
    const size_t size = reply.payload.size() + 20;
    auto expectSize = [&](size_t wanted) {
        if (size != wanted) violationLocked("a reply to " + fourCCText(kind) + " of " + std::to_string(size) + " bytes");
        return size == wanted;
    };
    ByteReader payload(reply.payload);
    switch (kind) {
        case subtype::audioClock:
            if (expectSize(28)) hostAudioClock_ = payload.u64();
            sawAudioClockReply_ = true;
            break;
        case subtype::audioFormat:
            expectSize(62);
            sawAudioFormatReply_ = true;
            break;
        case subtype::videoClock:
            if (!expectSize(28)) return;
            hostVideoClock_ = payload.u64();
            emitLocked(device::setProperty(hostVideoClock_, "ObeyEmptyMediaMarkers", true));
            emitLocked(device::setProperty(hostVideoClock_, "RenderEmptyMedia", false));
            emitLocked(device::timeBase(hostVideoClock_, 0x7f3a2c003c00));
            emitLocked(device::rate(hostVideoClock_, CMTime::nanoseconds(1'700'000'000'000'000'000)));
            requestLocked(hostVideoClock_, subtype::clock);
            state_ = State::clok;
            return;
        case subtype::clock:
            if (!expectSize(28)) return;
            hostClockClock_ = payload.u64();
            requestLocked(hostClockClock_, subtype::time);
            timeRepliesLeft_ = 2;
            state_ = State::time;
            return;
        case subtype::time:
            if (expectSize(44)) timeReplyLocked(reply);
            return;
        case subtype::skew:
            expectSize(28);
            break;
        case subtype::go:
            expectSize(24);
            break;
        case subtype::stop:
            expectSize(24);
            emitLocked(device::released(hostVideoClock_));
            emitLocked(device::released(hostClockClock_));
            state_ = State::stopped;
            return;
        default:
            break;
    }
    advanceLocked();
}

void PhoneScreenSide::timeReplyLocked(const Message& reply) {
    ByteReader payload(reply.payload);
    CMTime time = readCMTime(payload);
    if (time.timescale != 1'000'000'000 || time.flags != 1) violationLocked("a time reply that is not in nanoseconds");
    if (time.value < lastTime_) violationLocked("time went backwards");
    lastTime_ = time.value;
    if (--timeRepliesLeft_ > 0) {
        requestLocked(hostClockClock_, subtype::time);
        return;
    }
    state_ = State::streaming;
    // The audio side says its piece once: a packet, a skew and a go.
    SampleBuffer audio;
    audio.outputPresentation = CMTime{0, 48000, 1, 0};
    audio.timing.push_back({CMTime{1, 48000, 1, 0}, CMTime{0, 48000, 1, 0}, CMTime{}});
    audio.data = Bytes(4096, 0);
    audio.sampleCount = 1024;
    audio.sampleSizes = {4};
    FormatDescription sound;
    sound.mediaType = fourCC("soun");
    sound.audioDescription = device::audioStreamDescription(0x4C);
    audio.format = sound;
    ByteWriter eat;
    writeSampleBuffer(eat, audio);
    emitLocked(device::notice(hostAudioClock_, subtype::eat, eat.take()));
    requestLocked(hostAudioClock_, subtype::skew);
    ByteWriter one;
    one.u32(1);
    requestLocked(hostAudioClock_, subtype::go, one.take());
    auto watch = alive_.watch();
    queue_.async([this, watch] {
        if (watch.alive()) scheduleSend();
    });
}

void PhoneScreenSide::noticeLocked(const Message& notice) {
    switch (notice.subtype) {
        case subtype::videoOn:
            if (notice.clock != kNoClock) violationLocked("hpd1 on a clock");
            sawVideoOn_ = true;
            break;
        case subtype::audioOn:
            if (notice.clock != deviceAudioClock_) violationLocked("hpa1 not on the phone's audio clock");
            sawAudioOn_ = true;
            break;
        case subtype::need:
            if (notice.clock != deviceVideoClock_) violationLocked("need not on the phone's video clock");
            if (!videoClockSent_) {
                violationLocked("need before the video clock request");
                return;
            }
            ++credit_;
            if (state_ == State::streaming) {
                auto watch = alive_.watch();
                queue_.async([this, watch] {
                    if (watch.alive()) scheduleSend();
                });
            }
            return;
        case subtype::audioOff:
            if (notice.clock != deviceAudioClock_) violationLocked("hpa0 not on the phone's audio clock");
            onEvent_("hpa0");
            return;
        case subtype::videoOff:
            if (notice.clock != kNoClock) violationLocked("hpd0 on a clock");
            onEvent_("hpd0");
            if (state_ == State::stopping || state_ == State::stopped) return;
            stopPicturesLocked();
            state_ = State::stopping;
            if (!faults_.neverReleases) requestLocked(hostAudioClock_, subtype::stop);
            return;
        default:
            violationLocked("the host sent notice " + fourCCText(notice.subtype));
            return;
    }
    advanceLocked();
}

// The host's answers and its hpa1/hpd1 may come in either order; the phone
// moves on once it has both.
void PhoneScreenSide::advanceLocked() {
    if (state_ == State::audioClock && sawAudioClockReply_ && sawAudioOn_) {
        requestLocked(hostAudioClock_, subtype::audioFormat, device::audioStreamDescription(0x4C));
        state_ = State::audioFormat;
    }
    if (state_ == State::audioFormat && sawAudioFormatReply_ && sawVideoOn_) {
        // The video clock request carries the stream's parameter sets, so it
        // waits for the first picture.
        state_ = State::videoClock;
        startPicturesLocked();
    }
}

void PhoneScreenSide::startPicturesLocked() {
    auto watch = alive_.watch();
    queue_.async([this, watch] {
        if (!watch.alive() || feed_) return;
        feed_ = pictures_(queue_, [this, watch](PixelBufferRef picture) {
            if (watch.alive()) pictureArrived(std::move(picture));
        });
    });
}

void PhoneScreenSide::stopPicturesLocked() {
    credit_ = 0;
    videoClockSent_ = false;
    auto watch = alive_.watch();
    queue_.async([this, watch] {
        if (!watch.alive()) return;
        feed_.reset();
        pending_.reset();
        lastSent_.reset();
        firstUnit_.reset();
        formatWidth_ = formatHeight_ = 0;
    });
}

void PhoneScreenSide::pictureArrived(PixelBufferRef picture) {
    if (!feed_) return;  // stopped since
    pending_ = std::move(picture);
    scheduleSend();
}

void PhoneScreenSide::scheduleSend() {
    if (sendScheduled_) return;
    auto now = std::chrono::steady_clock::now();
    auto due = lastSentAt_ + kEncodeInterval;
    if (now >= due) return sendFrame();
    sendScheduled_ = true;
    auto watch = alive_.watch();
    queue_.asyncAfter(due - now, [this, watch] {
        if (!watch.alive()) return;
        sendScheduled_ = false;
        sendFrame();
    });
}

void PhoneScreenSide::sendFrame() {
    if (!pending_) return;
    bool announce = false;
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::videoClock && !videoClockSent_) {
            announce = true;
        } else if (state_ != State::streaming || credit_ == 0 || (pending_ == lastSent_ && !firstUnit_)) {
            return;
        }
    }
    H264Encoder::AccessUnit unit;
    PixelBufferRef picture = pending_;
    try {
        if (firstUnit_ && !announce) {
            unit = std::move(*firstUnit_);
            firstUnit_.reset();
        } else {
            unit = encoder_.encode(*picture, announce);
        }
    } catch (const std::exception& error) {
        log("simulated USB phone " + serial_ + ": " + error.what());
        return;
    }
    lastSent_ = picture;
    lastSentAt_ = std::chrono::steady_clock::now();
    FormatDescription format = videoFormat(static_cast<uint32_t>(encoder_.width()), static_cast<uint32_t>(encoder_.height()),
                                           makeAvcC(encoder_.sps(), encoder_.pps()));
    std::lock_guard lock(mutex_);
    if (announce) {
        if (state_ != State::videoClock) return;
        firstUnit_ = std::move(unit);
        videoClockSent_ = true;
        uint64_t correlation = newCorrelationLocked();
        outstanding_[correlation] = subtype::videoClock;
        emitLocked(device::videoClockRequest(correlation, deviceVideoClock_, format));
        formatWidth_ = encoder_.width();
        formatHeight_ = encoder_.height();
        return;
    }
    emitFrameLocked(std::move(unit), format);
}

void PhoneScreenSide::emitFrameLocked(H264Encoder::AccessUnit unit, const FormatDescription& format) {
    if (state_ != State::streaming || credit_ == 0) return;
    --credit_;
    SampleBuffer sample;
    pts_ += 16'666'667;
    sample.outputPresentation = CMTime::nanoseconds(pts_);
    sample.timing.push_back({CMTime{1, 60, 1, 0}, CMTime::nanoseconds(pts_), CMTime{}});
    sample.sampleCount = 1;
    sample.sampleSizes = {static_cast<uint32_t>(unit.data.size())};
    sample.data = std::move(unit.data);
    // The first frame, and the first of a new size, carry their format.
    if (framesSentThisStream_ == 0 || formatWidth_ != encoder_.width() || formatHeight_ != encoder_.height()) {
        sample.format = format;
        formatWidth_ = encoder_.width();
        formatHeight_ = encoder_.height();
    }
    Dictionary array;
    if (unit.keyFrame) {
        array.add(uint16_t{4}, Value::of(false));
    } else {
        array.add(uint16_t{0}, Value::of(true));
        array.add(uint16_t{4}, Value::of(true));
    }
    sample.sampleArray = std::move(array);
    emitLocked(device::feed(hostVideoClock_, sample));
    lastFrameSentAt_ = Clock::real().now();
    ++framesSent_;
    ++framesSentThisStream_;
}

void PhoneScreenSide::sendRaw(Bytes bytes) {
    std::lock_guard lock(mutex_);
    emitLocked(std::move(bytes));
}

std::vector<std::string> PhoneScreenSide::violations() {
    std::lock_guard lock(mutex_);
    return violations_;
}

int PhoneScreenSide::framesSent() {
    std::lock_guard lock(mutex_);
    return framesSent_;
}

MonotonicTime PhoneScreenSide::lastFrameSentAt() {
    std::lock_guard lock(mutex_);
    return lastFrameSentAt_;
}

}  // namespace quintalis::simulator
