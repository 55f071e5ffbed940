#include "commands/usb_screen.h"

namespace quintalis {

USBScreen::USBScreen(const CaptureDeviceInfo& device, CaptureDevices& devices, Clock& clock)
    : device_(device), clock_(clock) {
    session_ = devices.startCapture(device, queue_, [this](CapturedFrame frame) {
        buffer_ = std::move(frame);
        at_ = clock_.now();
    });
}

USBScreen::~USBScreen() { session_->stop(); }

std::optional<SourceFrame> USBScreen::latest() {
    CapturedFrame frame;
    double age = 0;
    queue_.sync([&] {
        frame = buffer_;
        age = std::chrono::duration<double, std::milli>(clock_.now() - at_).count();
    });
    if (!frame) return std::nullopt;
    // Converted off the queue, so frames keep arriving meanwhile.
    return SourceFrame{frame.picture(), age};
}

}  // namespace quintalis
