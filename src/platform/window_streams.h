#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/serial_queue.h"
#include "base/user_error.h"
#include "imaging/pixel_buffer.h"

namespace quintalis {

// A running stream of one window's contents; no callback follows `stop` or
// the destructor once they have returned.
class WindowStream {
public:
    virtual ~WindowStream() = default;
    virtual void stop() = 0;
};

// Thrown when a window cannot be streamed; the text says why.
class WindowStreamError : public UserError {
public:
    using UserError::UserError;
};

// Streams windows by number as BGRA frames (the window's own pixels, also
// where other windows cover it), at most 60 a second and only after the
// contents changed, plus one frame right after the start. Frames follow the
// window's size by themselves.
class WindowStreams {
public:
    virtual ~WindowStreams() = default;

    struct Callbacks {
        std::function<void(PixelBufferRef)> onFrame;
        // Once, when the stream ended by itself; "window closed" when the
        // window went away.
        std::function<void(const std::string& reason)> onStopped;
    };
    // Nothing when windows can be streamed here; otherwise why not, in one
    // sentence (for example, a display server without what streaming needs).
    virtual std::optional<std::string> unavailableReason() { return std::nullopt; }
    // Both callbacks run on `queue`. Throws WindowStreamError.
    virtual std::unique_ptr<WindowStream> start(uint32_t window, SerialQueue& queue, Callbacks callbacks) = 0;
};

}  // namespace quintalis
