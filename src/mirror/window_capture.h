#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/serial_queue.h"
#include "base/user_error.h"
#include "imaging/encoded_frame_cache.h"
#include "mirror/content_rect.h"
#include "mirror/sticky_content.h"
#include "mirror/windows.h"
#include "platform/window_server.h"
#include "platform/window_streams.h"

namespace quintalis {

// The capture side's error: one message, shown to users as it stands.
class CaptureError : public UserError {
public:
    using UserError::UserError;
};

// What window captures need from outside; one set per process in production.
struct CaptureBackends {
    WindowServer& windows;
    WindowStreams& streams;
    Clock& clock;
    EnvironmentReader environment;
    std::string permissionHelp;  // screenPermissionHelp(screenAppName(...), environment)
};

// One window, streamed: the newest frame, a thumbnail of it, and when the
// picture last changed. Frames arrive on the capture's own queue
// ("quintalis.airplay-capture"); every other call may come from any thread,
// several at once. One lock guards all of the state; it is never held while
// waiting for the stream or detecting content. Once stopped, or once the
// stream ended by itself, a capture stays dead; its owner makes a new one.
class WindowCapture {
public:
    WindowCapture(const WinInfo& window, CaptureBackends& backends);
    ~WindowCapture();
    WindowCapture(const WindowCapture&) = delete;
    WindowCapture& operator=(const WindowCapture&) = delete;

    // Finds the window again and starts streaming it. Throws CaptureError.
    void start();
    void stop();
    // Refreshes the window's record (size, title) and notices that it is gone.
    void checkResize();

    uint32_t windowID() const { return windowID_; }
    WinInfo info() const;
    // Why the stream ended; nothing while it runs (or before it started).
    std::optional<std::string> stoppedError() const;
    // Started, not stopped, and the stream has not ended.
    bool alive() const;
    Clock& clock() const { return backends_.clock; }

    // Times are milliseconds since 1970.
    struct Frame {
        PixelBufferRef buffer;
        int64_t frameAt = 0;
        int64_t lastChange = 0;  // 0 until the first frame
        long long frames = 0;
    };
    // The newest frame with its times and the frame count, all read at once.
    std::optional<Frame> latest() const;
    // Waits up to `limit` on the capture's clock for a first frame; true
    // once there is one. Gives up early when the stream has ended.
    bool waitForFrame(Duration limit) const;
    // Times of visible changes after `since`, oldest first; at most the last 400 are kept.
    std::vector<int64_t> changeTimes(int64_t since) const;

    // The phone's rectangle in this frame, kept steady from frame to frame.
    // Detection runs once per frame, however often the frame is rendered.
    ContentRect content(const PixelBufferRef& frame);

    // The pictures made of the newest frame, for rendering it again unchanged.
    EncodedFrameCache& encodings() { return encodings_; }

    static constexpr size_t kChangeHistory = 400;

private:
    void receive(PixelBufferRef frame);
    void streamEnded(const std::string& reason);

    CaptureBackends& backends_;
    const uint32_t windowID_;
    const std::optional<double> aspectHint_;

    mutable std::mutex mutex_;
    WinInfo info_;
    Frame latest_;
    std::vector<uint8_t> thumb_;
    std::deque<int64_t> changes_;
    std::optional<std::string> stoppedError_;
    StickyContent sticky_;
    EncodedFrameCache encodings_;  // guards itself
    std::weak_ptr<const PixelBuffer> detectedFrame_;  // the frame `detected_` was found on
    ContentRect detected_;

    SerialQueue queue_{"quintalis.airplay-capture"};
    std::unique_ptr<WindowStream> stream_;  // guarded by mutex_; stopped outside it
};

}  // namespace quintalis
