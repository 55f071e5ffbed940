#pragma once

#include <memory>
#include <stdexcept>
#include <vector>

#include "imaging/captured_frame.h"
#include "platform/usb/dictionary.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace quintalis {

class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decodes the phone's H.264 (libavcodec). The format description's avcC
// record is the decoder's configuration, and each frame's NAL units go in as
// they came, so nothing is copied into start codes. A decoded frame keeps
// libavcodec's own picture (a reference, not a copy) and becomes BGRA
// (libyuv) only when read; its luma plane alone gives the grey thumbnail.
// Frames keep the size the format states: padding the encoder added is cut
// off. Not thread-safe: one decode queue owns it; the frames it returns may
// be read on any thread and outlive it.
class H264Decoder {
public:
    H264Decoder();
    ~H264Decoder();
    H264Decoder(const H264Decoder&) = delete;
    H264Decoder& operator=(const H264Decoder&) = delete;

    // (Re)starts decoding for a format. Throws DecodeError.
    void configure(const usbscreen::FormatDescription& format);
    // Decodes one access unit. With `keep`, returns its frame (nothing when
    // the decoder holds it back); without, only keeps the decoder's
    // references current. Throws DecodeError for a frame it cannot read.
    CapturedFrame decode(const usbscreen::Bytes& accessUnit, bool keep);

    bool configured() const { return context_ != nullptr; }

private:
    void close();
    CapturedFrame kept();

    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int width_ = 0, height_ = 0;  // the format's own size; 0 when it gives none
    int lengthSize_ = 4;
};

}  // namespace quintalis
