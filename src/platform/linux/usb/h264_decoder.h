#pragma once

#include <memory>
#include <stdexcept>
#include <vector>

#include "imaging/pixel_buffer.h"
#include "platform/usb/dictionary.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace quintalis {

class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decodes the phone's H.264 (libavcodec) into BGRA pictures (libyuv). The
// format description's avcC record is the decoder's configuration, and each
// frame's NAL units go in as they came, so nothing is copied into start
// codes. Pictures keep the size the format states: padding the encoder added
// is cut off. Not thread-safe: one decode queue owns it.
class H264Decoder {
public:
    H264Decoder();
    ~H264Decoder();
    H264Decoder(const H264Decoder&) = delete;
    H264Decoder& operator=(const H264Decoder&) = delete;

    // (Re)starts decoding for a format. Throws DecodeError.
    void configure(const usbscreen::FormatDescription& format);
    // Decodes one access unit. With `convert`, returns its picture (nothing
    // when the decoder holds it back); without, only keeps the decoder's
    // references current. Throws DecodeError for a frame it cannot read.
    PixelBufferRef decode(const usbscreen::Bytes& accessUnit, bool convert);

    bool configured() const { return context_ != nullptr; }

private:
    void close();
    PixelBufferRef toBGRA();
    std::shared_ptr<PixelBuffer> freeBuffer(int width, int height);

    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int width_ = 0, height_ = 0;  // the format's own size; 0 when it gives none
    int lengthSize_ = 4;
    // Pictures handed out before; one that only this pool still holds is
    // written again instead of allocating (and zeroing) 12 MB per frame.
    std::vector<std::shared_ptr<PixelBuffer>> pool_;
};

}  // namespace quintalis
