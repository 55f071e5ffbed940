#include "commands/usb_screen.h"

namespace quintalis {

USBScreen::USBScreen(const CaptureDeviceInfo& device, CaptureDevices& devices, Clock& clock)
    : device_(device), clock_(clock) {
    session_ = devices.startCapture(device, queue_, [this](PixelBufferRef frame) {
        buffer_ = std::move(frame);
        at_ = clock_.now();
    });
}

USBScreen::~USBScreen() { session_->stop(); }

std::optional<SourceFrame> USBScreen::latest() {
    std::optional<SourceFrame> frame;
    queue_.sync([&] {
        if (buffer_) frame = SourceFrame{buffer_, std::chrono::duration<double, std::milli>(clock_.now() - at_).count()};
    });
    return frame;
}

}  // namespace quintalis
