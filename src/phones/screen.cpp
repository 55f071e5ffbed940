#include "phones/screen.h"

#include "imaging/codecs.h"

namespace quintalis {

Screen::Screen(const CaptureDeviceInfo& device, CaptureDevices& devices)
    : id_(device.uniqueID), name_(device.localizedName), queue_("skiffline.capture." + device.uniqueID) {
    session_ = devices.startCapture(device, queue_, [this](PixelBufferRef frame) { latest_ = std::move(frame); });
}

Screen::~Screen() { stop(); }

void Screen::stop() {
    if (session_) session_->stop();
}

PixelBufferRef Screen::frame() {
    PixelBufferRef frame;
    queue_.sync([&] { frame = latest_; });
    return frame;
}

std::optional<ImageSize> Screen::size() {
    auto latest = frame();
    if (!latest) return std::nullopt;
    return ImageSize{latest->width(), latest->height()};
}

std::optional<std::string> Screen::snapshot(bool png, std::optional<int> maxWidth, std::optional<int> maxEdge) {
    auto latest = frame();
    if (!latest) return std::nullopt;
    ImageSize size = imageSize(latest->width(), latest->height(), maxWidth, maxEdge);
    if (size.width <= 0 || size.height <= 0) return std::nullopt;
    if (size.width == latest->width() && size.height == latest->height()) {
        return png ? encodePNG(*latest) : encodeJPEG(*latest, 80);
    }
    PixelBuffer small = scaled(*latest, size.width, size.height);
    return png ? encodePNG(small) : encodeJPEG(small, 80);
}

std::optional<std::vector<uint8_t>> Screen::thumbnail(int width, int height) {
    auto latest = frame();
    if (!latest || width <= 0 || height <= 0) return std::nullopt;
    return greyThumbnail(*latest, width, height);
}

}  // namespace quintalis
