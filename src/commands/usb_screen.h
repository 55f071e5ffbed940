#pragma once

#include <memory>

#include "base/clock.h"
#include "base/serial_queue.h"
#include "commands/frame_source.h"
#include "platform/capture_devices.h"

namespace quintalis {

// A phone's screen on USB for the command line: a running capture that keeps
// its newest frame and when it came. Frames arrive on the "quintalis.usb-capture"
// queue, which alone writes them; latest() hops onto it, so any thread reads
// a whole frame.
class USBScreen final : public FrameSource {
public:
    // Starts capturing. Throws CaptureStartError when the device cannot be captured.
    USBScreen(const CaptureDeviceInfo& device, CaptureDevices& devices, Clock& clock);
    ~USBScreen() override;
    USBScreen(const USBScreen&) = delete;
    USBScreen& operator=(const USBScreen&) = delete;

    std::string name() const override { return device_.localizedName; }
    std::string id() const override { return device_.uniqueID; }
    std::optional<SourceFrame> latest() override;

private:
    const CaptureDeviceInfo device_;
    Clock& clock_;
    CapturedFrame buffer_;   // owned by queue_
    MonotonicTime at_;       // owned by queue_
    SerialQueue queue_{"quintalis.usb-capture"};
    std::unique_ptr<CaptureSession> session_;  // last: stopped before the queue goes
};

}  // namespace quintalis
