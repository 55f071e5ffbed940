#pragma once

#include <optional>
#include <string>

#include "imaging/pixel_buffer.h"

namespace quintalis {

// A picture a command can write out, with how old it is.
struct SourceFrame {
    PixelBufferRef picture;
    double ageMs = 0;  // since it arrived
};

// Anything the capture commands take pictures from: a phone on USB, or an
// image file standing in for one.
class FrameSource {
public:
    virtual ~FrameSource() = default;

    // What to call it in messages.
    virtual std::string name() const = 0;
    // What identifies it, unchanged from one run to the next.
    virtual std::string id() const = 0;
    // The current picture; nothing before the first one.
    virtual std::optional<SourceFrame> latest() = 0;
};

// A picture from a file, always current.
class StillSource final : public FrameSource {
public:
    StillSource(std::string path, PixelBuffer picture)
        : path_(std::move(path)), picture_(std::make_shared<const PixelBuffer>(std::move(picture))) {}

    std::string name() const override { return "still image"; }
    std::string id() const override { return path_; }
    std::optional<SourceFrame> latest() override { return SourceFrame{picture_, 0}; }

private:
    std::string path_;
    PixelBufferRef picture_;
};

}  // namespace quintalis
