#include "platform/linux/usb/h264_decoder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/imgutils.h>
}
#include <libyuv.h>

#include "platform/usb/media.h"

namespace quintalis {
namespace {

// libavcodec's picture of one frame, a reference into its buffer pool. The
// decoder never writes a picture it has handed out, so it can be read on
// any thread while later frames decode.
class DecodedPicture final : public CapturedFrame::Source {
public:
    DecodedPicture(AVFrame* frame, int width, int height) : frame_(frame), width_(width), height_(height) {}
    ~DecodedPicture() override { av_frame_free(&frame_); }
    DecodedPicture(const DecodedPicture&) = delete;
    DecodedPicture& operator=(const DecodedPicture&) = delete;

    int width() const override { return width_; }
    int height() const override { return height_; }

    PixelBufferRef toBGRA() const override {
        auto picture = std::make_shared<PixelBuffer>(width_, height_);
        const libyuv::YuvConstants* matrix = &libyuv::kYuvI601Constants;
        if (frame_->colorspace == AVCOL_SPC_BT709) matrix = fullRange() ? &libyuv::kYuvF709Constants : &libyuv::kYuvH709Constants;
        else if (fullRange()) matrix = &libyuv::kYuvJPEGConstants;
        // libyuv's ARGB is B, G, R, A in memory: the BGRA the screens keep.
        libyuv::I420ToARGBMatrix(frame_->data[0], frame_->linesize[0], frame_->data[1], frame_->linesize[1],
                                 frame_->data[2], frame_->linesize[2], picture->mutableData(), picture->bytesPerRow(),
                                 matrix, width_, height_);
        return picture;
    }

    // Luma is the grey already; video's limited range is stretched to the
    // full range the BGRA picture's grey would have.
    std::vector<uint8_t> greyThumbnail(int width, int height) const override {
        std::vector<uint8_t> grey(static_cast<size_t>(width) * height);
        libyuv::ScalePlane(frame_->data[0], frame_->linesize[0], width_, height_, grey.data(), width, width, height,
                           libyuv::kFilterBox);
        if (!fullRange()) {
            for (auto& value : grey) value = static_cast<uint8_t>(std::clamp(((value - 16) * 255 + 109) / 219, 0, 255));
        }
        return grey;
    }

private:
    bool fullRange() const { return frame_->color_range == AVCOL_RANGE_JPEG || frame_->format == AV_PIX_FMT_YUVJ420P; }

    AVFrame* frame_;
    const int width_, height_;
};

}  // namespace

H264Decoder::H264Decoder() = default;
H264Decoder::~H264Decoder() { close(); }

void H264Decoder::close() {
    avcodec_free_context(&context_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
}

void H264Decoder::configure(const usbscreen::FormatDescription& format) {
    const std::string* record = format.avcC();
    if (!record) throw DecodeError("the video format has no H.264 configuration (avcC)");
    try {
        lengthSize_ = usbscreen::parseAvcC(*record).lengthSize;
    } catch (const usbscreen::WireError& error) {
        throw DecodeError(std::string("unreadable H.264 configuration: ") + error.what());
    }
    close();
    // The log says what went wrong in its own words; libav's would go to standard error.
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec) throw DecodeError("libavcodec has no H.264 decoder");
    context_ = avcodec_alloc_context3(codec);
    context_->extradata = static_cast<uint8_t*>(av_mallocz(record->size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(context_->extradata, record->data(), record->size());
    context_->extradata_size = static_cast<int>(record->size());
    // One thread: frame threading would hold each picture back by a frame.
    context_->thread_count = 1;
    context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(context_, codec, nullptr) < 0) {
        close();
        throw DecodeError("the H.264 decoder refused the stream's configuration");
    }
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    width_ = static_cast<int>(format.width);
    height_ = static_cast<int>(format.height);
}

CapturedFrame H264Decoder::decode(const usbscreen::Bytes& accessUnit, bool keep) {
    if (!context_) throw DecodeError("a frame before the decoder was configured");
    try {
        usbscreen::splitNalUnits(accessUnit, lengthSize_);
    } catch (const usbscreen::WireError& error) {
        throw DecodeError(error.what());
    }
    if (av_new_packet(packet_, static_cast<int>(accessUnit.size())) < 0) throw DecodeError("out of memory for a frame");
    std::memcpy(packet_->data, accessUnit.data(), accessUnit.size());
    int sent = avcodec_send_packet(context_, packet_);
    av_packet_unref(packet_);
    if (sent < 0) throw DecodeError("the H.264 decoder rejected a frame");
    CapturedFrame picture;
    while (true) {
        int received = avcodec_receive_frame(context_, frame_);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) break;
        if (received < 0) throw DecodeError("the H.264 decoder could not decode a frame");
        if (frame_->decode_error_flags || (frame_->flags & AV_FRAME_FLAG_CORRUPT)) {
            av_frame_unref(frame_);
            throw DecodeError("a damaged frame");
        }
        if (keep) picture = kept();
        av_frame_unref(frame_);
    }
    return picture;
}

CapturedFrame H264Decoder::kept() {
    if (frame_->format != AV_PIX_FMT_YUV420P && frame_->format != AV_PIX_FMT_YUVJ420P) {
        throw DecodeError("a picture in a pixel format other than 4:2:0");
    }
    int width = width_ > 0 ? std::min(width_, frame_->width) : frame_->width;
    int height = height_ > 0 ? std::min(height_, frame_->height) : frame_->height;
    AVFrame* reference = av_frame_clone(frame_);
    if (!reference) throw DecodeError("out of memory for a frame");
    return CapturedFrame(std::make_shared<DecodedPicture>(reference, width, height));
}

}  // namespace quintalis
