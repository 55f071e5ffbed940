#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/clock.h"
#include "base/liveness.h"
#include "base/serial_queue.h"
#include "platform/capture_devices.h"
#include "platform/linux/usb/h264_decoder.h"
#include "platform/linux/usb/host_protocol.h"
#include "platform/usb_bus.h"

namespace quintalis {

// How long the cable session waits for each thing; tests shorten them.
struct CableTimeouts {
    Duration reenumerate = std::chrono::seconds(8);  // for the phone to come back with its capture configuration
    Duration ping = std::chrono::seconds(5);         // for the first ping, then for the audio clock request
    Duration release = std::chrono::seconds(3);      // for the phone to release its clocks when stopping
    Duration transfer = std::chrono::seconds(2);     // for one write, and for a control request
    Duration readSlice = std::chrono::milliseconds(100);  // a read's wait, so a stop is noticed
};

// Hides the phone's capture configuration and selects its usbmux one (none:
// 0), which gives the phone back to usbmuxd and every other tool.
void hideCaptureConfiguration(UsbDeviceHandle& handle, uint8_t usbmuxConfiguration, Duration timeout);

// One phone's screen over the cable: the capture interface claimed, the
// protocol spoken on a reader thread ("quintalis.usb-cable.<udid>"), frames
// decoded on "quintalis.usb-decode.<udid>" and delivered on the
// caller's queue. However it ends (stop(), an unplug, a protocol or decoder
// error), the reader restores the phone's normal configuration before it
// exits; stop() returns once it has. A session that ends without stop()
// calls `onEnded` with the reason, and whether the phone was unplugged, on
// the reader after the restore.
class CableSession final : public CaptureSession {
public:
    struct Target {
        std::string udid;
        std::string name;
        std::string address;  // of the phone's capture configuration, already revealed
        uint8_t configuration = 0, interfaceNumber = 0, in = 0, out = 0;
        uint8_t usbmuxConfiguration = 0;  // to restore; 0 when the phone has none
    };

    // Takes the claimed interface's handle and starts the reader.
    CableSession(Target target, std::unique_ptr<UsbDeviceHandle> handle, SerialQueue& frameQueue,
                 std::function<void(CapturedFrame)> onFrame, Clock& clock, CableTimeouts timeouts,
                 std::function<void(const std::string& reason, bool unplugged)> onEnded);
    ~CableSession() override;

    void stop() override;
    bool ended() const override { return ended_; }
    const std::string& udid() const { return target_.udid; }

private:
    void run();
    std::string converse();  // the protocol until it ends; returns why
    std::string stopConversation();
    bool send(const usbscreen::Bytes& message, std::string& failure);
    void handleStep(HostProtocol::Step step);
    void restore();
    void decodeQueued(usbscreen::Bytes frame);

    const Target target_;
    std::unique_ptr<UsbDeviceHandle> handle_;
    SerialQueue& frameQueue_;
    std::function<void(CapturedFrame)> onFrame_;
    Clock& clock_;
    const CableTimeouts timeouts_;
    std::function<void(const std::string&, bool)> onEnded_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> ended_{false};
    std::mutex stopMutex_;  // one stop() joins the reader
    // Why the decoder cannot go on, set on decodeQueue_: the reader ends the
    // session with it, so the phone is restored as after any other failure.
    std::mutex decodeFailureMutex_;
    std::string decodeFailure_;
    Liveness alive_;        // ends when stopped, so queued frames are dropped

    // Owned by the reader thread.
    HostProtocol protocol_;
    std::string formatText_;

    // Owned by decodeQueue_.
    H264Decoder decoder_;
    bool decoderBroken_ = false;
    int skippedFrames_ = 0;
    std::atomic<int> framesQueued_{0};

    SerialQueue decodeQueue_;
    std::thread reader_;  // last: started once everything else exists
};

// "1179×2556": a size as the log shows it.
std::string sizeText(uint32_t width, uint32_t height);

}  // namespace quintalis
