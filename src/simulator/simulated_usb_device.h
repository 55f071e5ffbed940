#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/liveness.h"
#include "base/serial_queue.h"
#include "platform/capture_devices.h"
#include "platform/usb/messages.h"
#include "platform/usb_bus.h"
#include "simulator/h264_encoder.h"

namespace quintalis::simulator {

// An iPhone's USB side as a Mac's screen recording meets it: four
// configurations until the reveal request, then five, the fifth holding the
// capture interface; on it the phone's half of the screen protocol (ping,
// clock and format requests, frames as H.264 paced by the host's NEEDs, the
// stop and release at the end). It checks what the host sends as the phone
// would and notes every slip (violations()).
//
// Thread rule: the host's calls (through a UsbDeviceHandle) may come from any
// thread and are serialised by `mutex_`; a bulk read blocks until the phone
// has something to say or the time-out passes. Encoding runs on the device's
// own queue, "quintalis.usb-device.<serial>".
class SimulatedUsbDevice {
public:
    // Starts a feed of the phone's pictures on the given queue.
    using PictureFeed =
        std::function<std::unique_ptr<CaptureSession>(SerialQueue& queue, std::function<void(PixelBufferRef)> onPicture)>;

    // What a test makes the phone do wrong.
    struct Faults {
        bool noPing = false;            // never pings (an unpaired phone's silence)
        bool silentAfterPing = false;   // pings back, then nothing
        bool neverReleases = false;     // no stop request or releases at the end
        bool failRevealStatus = false;  // the reveal request reports an error but works
        bool keepsCaptureConfiguration = false;  // ignores the hide request
    };

    static constexpr uint16_t kVendor = 0x05AC;
    static constexpr uint16_t kProduct = 0x12A8;
    static constexpr uint8_t kInEndpoint = 0x86, kOutEndpoint = 0x05;
    static constexpr uint8_t kCaptureConfiguration = 5, kUsbmuxConfiguration = 4;

    // `serial` as the phone's descriptor gives it: 24 characters, no dash.
    SimulatedUsbDevice(std::string serial, PictureFeed pictures);
    ~SimulatedUsbDevice();

    Faults faults;  // set before the host starts

    const std::string& serial() const { return serial_; }
    // Its descriptors now; nothing while unplugged.
    std::optional<UsbDeviceInfo> info();
    void setOnReenumerated(std::function<void()> callback);

    // The host's side, through a handle opened at `address`; a handle of an
    // address the device no longer has answers noDevice.
    UsbStatus activeConfiguration(const std::string& address, int& value);
    UsbStatus setConfiguration(const std::string& address, int value);
    UsbStatus claimInterface(const std::string& address, int number);
    UsbStatus releaseInterface(const std::string& address, int number);
    UsbStatus clearHalt(const std::string& address, uint8_t endpoint);
    UsbStatus controlOut(const std::string& address, uint8_t requestType, uint8_t request, uint16_t value, uint16_t index);
    UsbStatus bulkWrite(const std::string& address, uint8_t endpoint, const uint8_t* data, size_t size);
    UsbStatus bulkRead(const std::string& address, uint8_t endpoint, uint8_t* into, size_t capacity, size_t& got,
                       Duration timeout);

    // Test levers: raw bytes on the IN pipe (after what is queued), pulling
    // the cable (plug() puts it back, unrevealed), and what the phone saw.
    void sendRaw(usbscreen::Bytes bytes);
    void unplug();
    void plug();
    std::vector<std::string> violations();
    std::vector<std::string> events();  // "reveal", "hide", "set configuration 5", "hpd0", ...
    int framesSent();

private:
    enum class State { normal, revealed, waitPing, audioClock, audioFormat, videoClock, clok, time, streaming, stopping, stopped };

    std::string addressLocked() const;
    bool staleLocked(const std::string& address) const;
    void reenumerateLocked(bool revealed);
    void emitLocked(usbscreen::Bytes bytes);
    void violationLocked(std::string what);
    void receiveLocked(const usbscreen::Message& message);
    void replyLocked(const usbscreen::Message& reply);
    void noticeLocked(const usbscreen::Message& notice);
    void advanceLocked();
    uint64_t newCorrelationLocked();
    void resetSessionLocked();
    void requestLocked(uint64_t clock, uint32_t subtype, const usbscreen::Bytes& payload = {});
    void startPicturesLocked();
    void stopPicturesLocked();
    void pictureArrived(PixelBufferRef picture);  // on queue_
    void scheduleSend();                          // on queue_
    void sendFrame();                             // on queue_

    const std::string serial_;
    PictureFeed pictures_;
    SerialQueue queue_;
    Liveness alive_;

    std::mutex mutex_;
    std::condition_variable readable_;
    bool plugged_ = true;
    bool revealed_ = false;
    int generation_ = 1;
    int configuration_ = 0;
    bool claimed_ = false;
    State state_ = State::normal;
    std::deque<uint8_t> in_;
    std::vector<std::string> violations_;
    std::vector<std::string> events_;
    std::function<void()> onReenumerated_;
    uint64_t nextCorrelation_ = 0x7f3a10000100;
    std::map<uint64_t, uint32_t> outstanding_;  // requests awaiting their reply, by correlation id
    int timeRepliesLeft_ = 0;
    bool sawAudioOn_ = false, sawVideoOn_ = false, sawAudioClockReply_ = false, sawAudioFormatReply_ = false;
    uint64_t deviceAudioClock_ = 0x7f3a2c001a40, deviceVideoClock_ = 0x7f3a2c002b80;
    uint64_t hostAudioClock_ = 0, hostVideoClock_ = 0, hostClockClock_ = 0;
    int64_t lastTime_ = INT64_MIN;
    int credit_ = 0;
    int framesSent_ = 0;
    int framesSentThisStream_ = 0;
    bool videoClockSent_ = false;

    // Owned by queue_.
    std::unique_ptr<CaptureSession> feed_;
    H264Encoder encoder_;
    PixelBufferRef pending_;      // the newest picture not yet sent
    PixelBufferRef lastSent_;
    MonotonicTime lastSentAt_{};
    bool sendScheduled_ = false;
    std::optional<H264Encoder::AccessUnit> firstUnit_;  // encoded for the video clock request, sent as the first frame
    int formatWidth_ = 0, formatHeight_ = 0;            // the size the host last heard of
    int64_t pts_ = 0;
};

}  // namespace quintalis::simulator
