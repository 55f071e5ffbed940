#include "mirror/window_capture.h"

#include <algorithm>
#include <iterator>

#include "mirror/frame_change.h"
#include "mirror/screen_permission.h"

namespace quintalis {

WindowCapture::WindowCapture(const WinInfo& window, CaptureBackends& backends)
    : backends_(backends),
      windowID_(window.window.number),
      aspectHint_(parseAspect(backends.environment("QUINTALIS_SCREEN_ASPECT"))),
      info_(window) {}

WindowCapture::~WindowCapture() { stop(); }

void WindowCapture::start() {
    auto windows = syncShareable(backends_);
    auto found = std::find_if(windows.begin(), windows.end(),
                              [&](const WindowDescription& w) { return w.number == windowID_; });
    if (found == windows.end()) throw CaptureError("window " + std::to_string(windowID_) + " is gone");
    std::unique_ptr<WindowStream> stream;
    try {
        stream = backends_.streams.start(windowID_, queue_,
                                         {[this](PixelBufferRef frame) { receive(std::move(frame)); },
                                          [this](const std::string& reason) { streamEnded(reason); }});
    } catch (const WindowStreamError& error) {
        throw CaptureError(error.what());
    }
    std::lock_guard lock(mutex_);
    stream_ = std::move(stream);
}

void WindowCapture::stop() {
    std::unique_ptr<WindowStream> stream;
    {
        std::lock_guard lock(mutex_);
        stream = std::move(stream_);
    }
    // Outside the lock: the stream waits for a frame being delivered, and
    // delivering takes the lock.
    if (stream) stream->stop();
}

void WindowCapture::checkResize() {
    {
        std::lock_guard lock(mutex_);
        if (!stream_) return;
    }
    auto windows = backends_.windows.windows();
    auto found = std::find_if(windows.begin(), windows.end(),
                              [&](const WindowDescription& w) { return w.number == windowID_; });
    std::lock_guard lock(mutex_);
    if (found == windows.end()) {
        if (!stoppedError_) stoppedError_ = "window closed";
        return;
    }
    // Frames follow the window's size by themselves; only the record needs
    // refreshing.
    info_ = WinInfo{*found, 0};
}

WinInfo WindowCapture::info() const {
    std::lock_guard lock(mutex_);
    return info_;
}

std::optional<std::string> WindowCapture::stoppedError() const {
    std::lock_guard lock(mutex_);
    return stoppedError_;
}

bool WindowCapture::alive() const {
    std::lock_guard lock(mutex_);
    return stream_ && !stoppedError_;
}

std::optional<WindowCapture::Frame> WindowCapture::latest() const {
    std::lock_guard lock(mutex_);
    if (!latest_.buffer) return std::nullopt;
    return latest_;
}

bool WindowCapture::waitForFrame(Duration limit) const {
    // Frames arrive on the capture's queue; a short look interval keeps a
    // client from paying much more than the frame's own arrival.
    constexpr Duration kLook = std::chrono::milliseconds(10);
    const MonotonicTime until = backends_.clock.now() + limit;
    while (!latest()) {
        if (backends_.clock.now() >= until || stoppedError()) return false;
        backends_.clock.sleep(kLook);
    }
    return true;
}

std::vector<int64_t> WindowCapture::changeTimes(int64_t since) const {
    std::lock_guard lock(mutex_);
    std::vector<int64_t> after;
    // A linear pass: the wall clock may have stepped back, so the history
    // need not be sorted.
    std::copy_if(changes_.begin(), changes_.end(), std::back_inserter(after), [&](int64_t t) { return t > since; });
    return after;
}

ContentRect WindowCapture::content(const PixelBufferRef& frame) {
    std::optional<std::string> prefer;
    {
        std::lock_guard lock(mutex_);
        // A live weak reference to the same frame: the same pixels, so the
        // same answer, and accepting it again changes nothing.
        if (detectedFrame_.lock() == frame) return sticky_.accept(detected_, frame->width(), frame->height());
        prefer = sticky_.lastOrientation();
    }
    ContentRect fresh = detectContent(pixelsOf(*frame), aspectHint_, prefer);
    std::lock_guard lock(mutex_);
    detectedFrame_ = frame;
    detected_ = fresh;
    return sticky_.accept(fresh, frame->width(), frame->height());
}

void WindowCapture::receive(PixelBufferRef frame) {
    std::vector<uint8_t> thumb = changeThumbnail(pixelsOf(*frame));
    const int64_t now = backends_.clock.wallMillis();
    std::lock_guard lock(mutex_);
    if (visiblyChanged(thumb_, thumb)) {
        latest_.lastChange = now;
        changes_.push_back(now);
        while (changes_.size() > kChangeHistory) changes_.pop_front();
    }
    thumb_ = std::move(thumb);
    latest_.buffer = std::move(frame);
    latest_.frameAt = now;
    ++latest_.frames;
}

void WindowCapture::streamEnded(const std::string& reason) {
    std::lock_guard lock(mutex_);
    if (!stoppedError_) stoppedError_ = reason;
}

}  // namespace quintalis
