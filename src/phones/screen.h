#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/serial_queue.h"
#include "screen/settle_wait.h"
#include "imaging/encoded_frame_cache.h"
#include "imaging/image_ops.h"
#include "platform/capture_devices.h"

namespace quintalis {

// One USB-attached iPhone screen: a running capture that keeps only the most
// recent frame. Frames arrive on the screen's own queue
// ("quintalis.capture." + id), the only place `latest` is written; readers on
// any thread hop onto it, so they always see a whole frame. Converting to
// BGRA and encoding happen only on demand, never per frame; each frame costs
// one grey thumbnail, which tells whether the picture visibly changed.
class Screen {
public:
    // Starts capturing. Throws CaptureStartError when the device cannot be captured.
    // `clock` stamps the change times.
    Screen(const CaptureDeviceInfo& device, CaptureDevices& devices, Clock& clock);
    ~Screen();
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    const std::string& id() const { return id_; }
    const std::string& name() const { return name_; }

    // Stops the capture, then ends the queue's thread, which only the
    // capture fed; a later reader starts it again.
    void stop();
    // True once the capture has ended, stopped or failed: no frame will come.
    bool ended() const { return session_ && session_->ended(); }
    PixelBufferRef frame();
    std::optional<ImageSize> size();
    struct Snapshot {
        std::string bytes;
        ImageSize frameSize;  // the frame the picture was made from
        ImageSize imageSize;  // the picture in `bytes`
    };
    // The latest frame as PNG or JPEG (quality 80), shrunk to the limits
    // (positive) by the imageSize rule; nothing without a frame. Sizes and
    // bytes come from one frame, so they always agree. Asking again while
    // the picture has not changed answers the bytes encoded before.
    std::optional<Snapshot> snapshot(bool png, std::optional<int> maxWidth, std::optional<int> maxEdge);
    // The latest frame stretched to width × height, one grey byte per pixel.
    std::optional<std::vector<uint8_t>> thumbnail(int width, int height);
    // The visible changes after `since` and the newest one, in wall ms;
    // nothing before the first frame.
    std::optional<ChangeReading> changes(int64_t since);

private:
    CapturedFrame latest();
    const std::string id_;
    const std::string name_;
    Clock& clock_;
    CapturedFrame latest_;           // owned by queue_
    std::vector<uint8_t> thumb_;     // owned by queue_: the latest frame's
    ChangeHistory changeHistory_;    // owned by queue_
    EncodedFrameCache encodings_;    // guards itself
    SerialQueue queue_;
    std::unique_ptr<CaptureSession> session_;  // last: stopped before the queue goes
};

using ScreenRef = std::shared_ptr<Screen>;

}  // namespace quintalis
