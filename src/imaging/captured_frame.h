#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "imaging/pixel_buffer.h"

namespace quintalis {

// A frame as a capture delivers it: either a BGRA picture as it is, or a
// decoder's own picture, kept without a copy and turned into BGRA the first
// time someone reads it. Most frames of a phone's stream are only looked at
// for change and then replaced, and converting a 3-megapixel picture costs
// as much as decoding it, so nothing converts a frame nobody reads.
// A cheap handle: copies share one frame. Any thread may read it; the
// conversion runs once, on the first reader's thread, and later readers get
// the same picture.
class CapturedFrame {
public:
    // A decoder's picture in its own format.
    class Source {
    public:
        virtual ~Source() = default;
        virtual int width() const = 0;
        virtual int height() const = 0;
        virtual PixelBufferRef toBGRA() const = 0;
        // As greyThumbnail() makes it from the BGRA picture, near enough to
        // compare one frame of the stream with the next.
        virtual std::vector<uint8_t> greyThumbnail(int width, int height) const = 0;
    };

    CapturedFrame() = default;
    // Not explicit: a BGRA picture is a frame as it is.
    CapturedFrame(PixelBufferRef picture);  // NOLINT(google-explicit-constructor)
    CapturedFrame(std::shared_ptr<PixelBuffer> picture)  // NOLINT(google-explicit-constructor)
        : CapturedFrame(PixelBufferRef(std::move(picture))) {}
    explicit CapturedFrame(std::shared_ptr<const Source> source);

    explicit operator bool() const { return state_ != nullptr; }
    int width() const;
    int height() const;
    // The frame as BGRA, converted on the first call.
    PixelBufferRef picture() const;
    // Whether the BGRA picture exists yet; for measuring what reads cost.
    bool converted() const;
    // The whole frame stretched to width × height as 8-bit luminance; never
    // needs the BGRA picture.
    std::vector<uint8_t> greyThumbnail(int width, int height) const;

private:
    struct State {
        std::shared_ptr<const Source> source;
        std::once_flag once;
        PixelBufferRef picture;
        std::atomic<bool> converted{false};
    };
    std::shared_ptr<State> state_;
};

}  // namespace quintalis
