#pragma once

#include <memory>
#include <optional>

#include "imaging/pixel_buffer.h"
#include "platform/usb/wire.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace quintalis::simulator {

// Encodes pictures as H.264 (x264 through libavcodec, constrained baseline,
// no B-frames, one picture in gives one access unit out) the way the phone
// sends them: NAL units with 4-byte big-endian lengths, SPS and PPS apart.
// Not thread-safe: one owner at a time.
class H264Encoder {
public:
    struct AccessUnit {
        usbscreen::Bytes data;  // length-prefixed NAL units
        bool keyFrame = false;
    };

    H264Encoder();
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    // Encodes one picture; a new size starts a new stream (new SPS and PPS)
    // with a key frame, as does `keyFrame`. Throws std::runtime_error when
    // the encoder cannot be opened.
    AccessUnit encode(const PixelBuffer& picture, bool keyFrame);

    int width() const { return width_; }
    int height() const { return height_; }
    const usbscreen::Bytes& sps() const { return sps_; }
    const usbscreen::Bytes& pps() const { return pps_; }

private:
    void open(int width, int height);
    void close();

    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int width_ = 0, height_ = 0;
    int64_t nextPts_ = 0;
    usbscreen::Bytes sps_, pps_;
};

// Annex B (start codes) to the NAL units it holds.
std::vector<std::pair<const uint8_t*, size_t>> annexBUnits(const uint8_t* data, size_t size);

}  // namespace quintalis::simulator
