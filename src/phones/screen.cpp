#include "phones/screen.h"

#include "imaging/codecs.h"
#include "phones/matching.h"

namespace quintalis {

Screen::Screen(const CaptureDeviceInfo& device, CaptureDevices& devices, Clock& clock)
    : id_(device.uniqueID), name_(device.localizedName), clock_(clock), queue_("quintalis.capture." + device.uniqueID) {
    session_ = devices.startCapture(device, queue_, [this](CapturedFrame frame) {
        if (!frame) return;
        // The matching's own thumbnail and threshold: what it sees as a
        // pointer's move is what counts as a change here. Made without the
        // BGRA picture, which only a reader pays for.
        auto thumb = frame.greyThumbnail(matching::kThumbWidth, matching::kThumbHeight);
        if (matching::visiblyChanged(thumb_, thumb)) changeHistory_.record(clock_.wallMillis());
        thumb_ = std::move(thumb);
        latest_ = std::move(frame);
    });
}

Screen::~Screen() { stop(); }

void Screen::stop() {
    if (session_) session_->stop();
    queue_.stop();
}

CapturedFrame Screen::latest() {
    CapturedFrame frame;
    queue_.sync([&] { frame = latest_; });
    return frame;
}

PixelBufferRef Screen::frame() {
    // Converted here, on the reader's thread, so the frames keep arriving meanwhile.
    return latest().picture();
}

std::optional<ImageSize> Screen::size() {
    CapturedFrame latest = this->latest();
    if (!latest) return std::nullopt;
    return ImageSize{latest.width(), latest.height()};
}

std::optional<Screen::Snapshot> Screen::snapshot(bool png, std::optional<int> maxWidth, std::optional<int> maxEdge) {
    auto latest = frame();
    if (!latest) return std::nullopt;
    ImageSize frameSize{latest->width(), latest->height()};
    ImageSize size = imageSize(latest->width(), latest->height(), maxWidth, maxEdge);
    if (size.width <= 0 || size.height <= 0) return std::nullopt;
    EncodedFrameCache::Key key{0, 0, frameSize.width, frameSize.height, size.width, size.height, png};
    auto bytes = encodings_.encoded(latest, key, [&] {
        return size == frameSize ? encodePicture(*latest, png)
                                 : encodePicture(scaled(*latest, size.width, size.height), png);
    });
    if (!bytes) return std::nullopt;
    return Snapshot{std::move(*bytes), frameSize, size};
}

std::optional<std::vector<uint8_t>> Screen::thumbnail(int width, int height) {
    auto latest = frame();
    if (!latest || width <= 0 || height <= 0) return std::nullopt;
    return greyThumbnail(*latest, width, height);
}

std::optional<ChangeReading> Screen::changes(int64_t since) {
    std::optional<ChangeReading> reading;
    queue_.sync([&] {
        if (auto last = changeHistory_.last()) reading = ChangeReading{changeHistory_.after(since), *last};
    });
    return reading;
}

}  // namespace quintalis
