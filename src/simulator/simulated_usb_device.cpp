#include "simulator/simulated_usb_device.h"

#include "base/log.h"
#include "platform/usb/usb_ids.h"

namespace quintalis::simulator {
namespace {

constexpr uint8_t kCaptureInterface = 2;
// The phone paces its frames: at most 30 a second, and only new pictures.
constexpr auto kEncodeInterval = std::chrono::microseconds(33333);

UsbInterface stillImage(uint8_t number) { return {number, 0, 0x06, 0x01, 0x01, {{0x81, 2, 512}, {0x02, 2, 512}, {0x83, 3, 64}}}; }
UsbInterface usbmux(uint8_t number) { return {number, 0, 0xFF, 0xFE, 0x02, {{0x04, 2, 512}, {0x85, 2, 512}}}; }

}  // namespace

using namespace usbscreen;

SimulatedUsbDevice::SimulatedUsbDevice(std::string serial, PictureFeed pictures)
    : serial_(std::move(serial)), pictures_(std::move(pictures)), queue_("quintalis.usb-device." + serial_) {}

SimulatedUsbDevice::~SimulatedUsbDevice() {
    alive_.end();
    queue_.sync([this] { feed_.reset(); });
}

std::optional<UsbDeviceInfo> SimulatedUsbDevice::info() {
    std::lock_guard lock(mutex_);
    if (!plugged_) return std::nullopt;
    UsbDeviceInfo info;
    info.address = addressLocked();
    info.vendor = kVendor;
    info.product = kProduct;
    info.serial = serial_;
    // Before the reveal: four configurations, usbmux in the last two.
    info.configurations = {{1, {stillImage(0)}}, {2, {stillImage(0)}}, {3, {stillImage(0), usbmux(1)}}, {4, {stillImage(0), usbmux(1)}}};
    if (revealed_) {
        UsbInterface capture{kCaptureInterface, 0, 0xFF, 0x2A, 0xFF, {{kInEndpoint, 2, 512}, {kOutEndpoint, 2, 512}}};
        info.configurations.push_back({kCaptureConfiguration, {stillImage(0), usbmux(1), capture}});
    }
    return info;
}

void SimulatedUsbDevice::setOnReenumerated(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    onReenumerated_ = std::move(callback);
}

std::string SimulatedUsbDevice::addressLocked() const { return "sim-" + serial_.substr(serial_.size() - 4) + "." + std::to_string(generation_); }

bool SimulatedUsbDevice::staleLocked(const std::string& address) const { return !plugged_ || address != addressLocked(); }

void SimulatedUsbDevice::reenumerateLocked(bool revealed) {
    revealed_ = revealed;
    ++generation_;
    configuration_ = 1;  // what the kernel picks for a device it enumerates
    claimed_ = false;
    in_.clear();
    resetSessionLocked();
    state_ = revealed ? State::revealed : State::normal;
    readable_.notify_all();
    auto watch = alive_.watch();
    queue_.async([this, watch] {
        if (!watch.alive()) return;
        std::function<void()> callback;
        {
            std::lock_guard lock(mutex_);
            callback = onReenumerated_;
        }
        if (callback) callback();
    });
}

UsbStatus SimulatedUsbDevice::activeConfiguration(const std::string& address, int& value) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    value = configuration_;
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::setConfiguration(const std::string& address, int value) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (claimed_) return UsbStatus::busy;
    if (value < 1 || value > (revealed_ ? kCaptureConfiguration : kUsbmuxConfiguration)) return UsbStatus::notFound;
    events_.push_back("set configuration " + std::to_string(value));
    configuration_ = value;
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::claimInterface(const std::string& address, int number) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (number != kCaptureInterface || configuration_ != kCaptureConfiguration) return UsbStatus::notFound;
    if (claimed_) return UsbStatus::busy;
    claimed_ = true;
    events_.push_back("claim");
    resetSessionLocked();
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::releaseInterface(const std::string& address, int number) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (number != kCaptureInterface || !claimed_) return UsbStatus::notFound;
    claimed_ = false;
    events_.push_back("release");
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::clearHalt(const std::string& address, uint8_t endpoint) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (!claimed_ || (endpoint != kInEndpoint && endpoint != kOutEndpoint)) return UsbStatus::notFound;
    events_.push_back("clear halt " + std::to_string(endpoint));
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::controlOut(const std::string& address, uint8_t requestType, uint8_t request, uint16_t value,
                                         uint16_t index) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (requestType != kVendorRequestOut || request != kRevealRequest || value != 0 || (index != kRevealIndex && index != kHideIndex)) {
        return UsbStatus::pipe;  // a request the phone does not know stalls
    }
    if (index == kRevealIndex) {
        events_.push_back("reveal");
        if (!revealed_) reenumerateLocked(true);
        // The phone may leave the bus before the status stage completes.
        return faults.failRevealStatus ? UsbStatus::pipe : UsbStatus::ok;
    }
    events_.push_back("hide");
    if (!faults.keepsCaptureConfiguration) revealed_ = false;
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::bulkWrite(const std::string& address, uint8_t endpoint, const uint8_t* data, size_t size) {
    std::lock_guard lock(mutex_);
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (endpoint != kOutEndpoint || !claimed_) return UsbStatus::pipe;
    try {
        receiveLocked(parseMessage(data, size));
    } catch (const WireError& error) {
        violationLocked(std::string("unreadable host message: ") + error.what());
    }
    return UsbStatus::ok;
}

UsbStatus SimulatedUsbDevice::bulkRead(const std::string& address, uint8_t endpoint, uint8_t* into, size_t capacity,
                                       size_t& got, Duration timeout) {
    std::unique_lock lock(mutex_);
    got = 0;
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (endpoint != kInEndpoint || !claimed_) return UsbStatus::pipe;
    if (state_ == State::revealed) {
        // A read pending on the cleared pipe is the phone's cue to ping.
        state_ = State::waitPing;
        if (!faults.noPing) emitLocked(device::ping());
    }
    readable_.wait_for(lock, timeout, [&] { return !in_.empty() || staleLocked(address) || !claimed_; });
    if (staleLocked(address)) return UsbStatus::noDevice;
    if (in_.empty()) return UsbStatus::timeout;
    got = std::min(capacity, in_.size());
    std::copy_n(in_.begin(), got, into);
    in_.erase(in_.begin(), in_.begin() + static_cast<ptrdiff_t>(got));
    return UsbStatus::ok;
}

// Each claim of the capture interface starts the phone's side afresh.
void SimulatedUsbDevice::resetSessionLocked() {
    state_ = State::revealed;
    outstanding_.clear();
    sawAudioOn_ = sawVideoOn_ = sawAudioClockReply_ = sawAudioFormatReply_ = false;
    lastTime_ = INT64_MIN;
    framesSentThisStream_ = 0;
    stopPicturesLocked();
}

void SimulatedUsbDevice::emitLocked(Bytes bytes) {
    in_.insert(in_.end(), bytes.begin(), bytes.end());
    readable_.notify_all();
}

void SimulatedUsbDevice::violationLocked(std::string what) { violations_.push_back(std::move(what)); }

uint64_t SimulatedUsbDevice::newCorrelationLocked() { return nextCorrelation_ += 0x1F0; }

void SimulatedUsbDevice::requestLocked(uint64_t clock, uint32_t kind, const Bytes& payload) {
    uint64_t correlation = newCorrelationLocked();
    outstanding_[correlation] = kind;
    emitLocked(device::request(clock, kind, correlation, payload));
}

void SimulatedUsbDevice::receiveLocked(const Message& message) {
    if (message.magic == magic::ping) {
        if (state_ != State::waitPing) return violationLocked("a ping out of turn");
        events_.push_back("ping");
        if (faults.silentAfterPing) {
            state_ = State::audioClock;
            return;
        }
        uint64_t correlation = newCorrelationLocked();
        outstanding_[correlation] = subtype::audioClock;
        emitLocked(device::audioClockRequest(correlation, deviceAudioClock_));
        state_ = State::audioClock;
        return;
    }
    if (state_ == State::revealed || state_ == State::waitPing) return violationLocked("a message before the ping exchange");
    if (message.magic == magic::reply) return replyLocked(message);
    if (message.magic == magic::async) return noticeLocked(message);
    violationLocked("the host sent " + fourCCText(message.magic));
}

void SimulatedUsbDevice::replyLocked(const Message& reply) {
    auto found = outstanding_.find(reply.correlation);
    if (found == outstanding_.end()) return violationLocked("a reply to no request");
    uint32_t kind = found->second;
    outstanding_.erase(found);
    if (reply.status != 0) violationLocked("a reply with status " + std::to_string(reply.status));
    const size_t size = reply.payload.size() + 20;
    auto expectSize = [&](size_t wanted) {
        if (size != wanted) violationLocked("a reply to " + fourCCText(kind) + " of " + std::to_string(size) + " bytes");
    };
    ByteReader payload(reply.payload);
    switch (kind) {
        case subtype::audioClock:
            expectSize(28);
            if (size == 28) hostAudioClock_ = payload.u64();
            sawAudioClockReply_ = true;
            break;
        case subtype::audioFormat:
            expectSize(62);
            sawAudioFormatReply_ = true;
            break;
        case subtype::videoClock:
            expectSize(28);
            if (size != 28) return;
            hostVideoClock_ = payload.u64();
            emitLocked(device::setProperty(hostVideoClock_, "ObeyEmptyMediaMarkers", true));
            emitLocked(device::setProperty(hostVideoClock_, "RenderEmptyMedia", false));
            emitLocked(device::timeBase(hostVideoClock_, 0x7f3a2c003c00));
            emitLocked(device::rate(hostVideoClock_, CMTime::nanoseconds(1'700'000'000'000'000'000)));
            requestLocked(hostVideoClock_, subtype::clock);
            state_ = State::clok;
            return;
        case subtype::clock:
            expectSize(28);
            if (size != 28) return;
            hostClockClock_ = payload.u64();
            requestLocked(hostClockClock_, subtype::time);
            timeRepliesLeft_ = 2;
            state_ = State::time;
            return;
        case subtype::time: {
            expectSize(44);
            if (size != 44) return;
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
            return;
        }
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

void SimulatedUsbDevice::noticeLocked(const Message& notice) {
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
            events_.push_back("hpa0");
            return;
        case subtype::videoOff:
            if (notice.clock != kNoClock) violationLocked("hpd0 on a clock");
            events_.push_back("hpd0");
            if (state_ == State::stopping || state_ == State::stopped) return;
            stopPicturesLocked();
            state_ = State::stopping;
            if (!faults.neverReleases) requestLocked(hostAudioClock_, subtype::stop);
            return;
        default:
            violationLocked("the host sent notice " + fourCCText(notice.subtype));
            return;
    }
    advanceLocked();
}

// The host's answers and its hpa1/hpd1 may come in either order; the phone
// moves on once it has both.
void SimulatedUsbDevice::advanceLocked() {
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

void SimulatedUsbDevice::startPicturesLocked() {
    auto watch = alive_.watch();
    queue_.async([this, watch] {
        if (!watch.alive() || feed_) return;
        feed_ = pictures_(queue_, [this, watch](PixelBufferRef picture) {
            if (watch.alive()) pictureArrived(std::move(picture));
        });
    });
}

void SimulatedUsbDevice::stopPicturesLocked() {
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

void SimulatedUsbDevice::pictureArrived(PixelBufferRef picture) {
    if (!feed_) return;  // stopped since
    pending_ = std::move(picture);
    scheduleSend();
}

void SimulatedUsbDevice::scheduleSend() {
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

void SimulatedUsbDevice::sendFrame() {
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
    ++framesSent_;
    ++framesSentThisStream_;
}

void SimulatedUsbDevice::sendRaw(Bytes bytes) {
    std::lock_guard lock(mutex_);
    emitLocked(std::move(bytes));
}

void SimulatedUsbDevice::unplug() {
    std::lock_guard lock(mutex_);
    if (!plugged_) return;
    plugged_ = false;
    reenumerateLocked(false);
}

void SimulatedUsbDevice::plug() {
    std::lock_guard lock(mutex_);
    if (plugged_) return;
    plugged_ = true;
    reenumerateLocked(false);
}

std::vector<std::string> SimulatedUsbDevice::violations() {
    std::lock_guard lock(mutex_);
    return violations_;
}

std::vector<std::string> SimulatedUsbDevice::events() {
    std::lock_guard lock(mutex_);
    return events_;
}

int SimulatedUsbDevice::framesSent() {
    std::lock_guard lock(mutex_);
    return framesSent_;
}

}  // namespace quintalis::simulator
