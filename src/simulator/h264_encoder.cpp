#include "simulator/h264_encoder.h"

#include <cstring>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}
#include <libyuv.h>

namespace quintalis::simulator {

std::vector<std::pair<const uint8_t*, size_t>> annexBUnits(const uint8_t* data, size_t size) {
    std::vector<std::pair<const uint8_t*, size_t>> units;
    size_t i = 0, start = std::string::npos;
    while (i + 3 <= size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if (start != std::string::npos) {
                size_t end = i;
                while (end > start && data[end - 1] == 0) --end;  // the zero of a 4-byte start code
                units.emplace_back(data + start, end - start);
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != std::string::npos && start < size) units.emplace_back(data + start, size - start);
    return units;
}

H264Encoder::H264Encoder() = default;
H264Encoder::~H264Encoder() { close(); }

void H264Encoder::close() {
    avcodec_free_context(&context_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    width_ = height_ = 0;
}

void H264Encoder::open(int width, int height) {
    close();
    // The log says what went wrong in its own words; libav's would go to standard error.
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) throw std::runtime_error("libavcodec has no libx264 encoder");
    context_ = avcodec_alloc_context3(codec);
    // 4:2:0 pictures have even sizes, and cropping works in steps of two, so
    // an odd column or row is padded (a copy of the last one) and stays in
    // the stream; the format description carries the true size, as the
    // phone's does.
    context_->width = (width + 1) & ~1;
    context_->height = (height + 1) & ~1;
    context_->pix_fmt = AV_PIX_FMT_YUV420P;
    context_->time_base = AVRational{1, 60};
    context_->gop_size = 600;
    context_->max_b_frames = 0;
    context_->thread_count = 1;
    context_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(context_->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context_->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context_->priv_data, "profile", "baseline", 0);
    av_opt_set(context_->priv_data, "crf", "20", 0);
    if (avcodec_open2(context_, codec, nullptr) < 0) {
        close();
        throw std::runtime_error("cannot open the H.264 encoder for " + std::to_string(width) + "x" + std::to_string(height));
    }
    frame_ = av_frame_alloc();
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = context_->width;
    frame_->height = context_->height;
    if (av_frame_get_buffer(frame_, 0) < 0) throw std::runtime_error("cannot allocate an H.264 picture");
    packet_ = av_packet_alloc();
    width_ = width;
    height_ = height;
    sps_.clear();
    pps_.clear();
    for (auto [unit, size] : annexBUnits(context_->extradata, static_cast<size_t>(context_->extradata_size))) {
        int type = unit[0] & 0x1F;
        if (type == 7) sps_.assign(unit, unit + size);
        if (type == 8) pps_.assign(unit, unit + size);
    }
    if (sps_.empty() || pps_.empty()) throw std::runtime_error("the H.264 encoder gave no SPS or PPS");
}

H264Encoder::AccessUnit H264Encoder::encode(const PixelBuffer& picture, bool keyFrame) {
    if (picture.width() != width_ || picture.height() != height_) {
        open(picture.width(), picture.height());
        keyFrame = true;
    }
    if (av_frame_make_writable(frame_) < 0) throw std::runtime_error("cannot write an H.264 picture");
    libyuv::ARGBToI420(picture.data(), picture.bytesPerRow(), frame_->data[0], frame_->linesize[0], frame_->data[1],
                       frame_->linesize[1], frame_->data[2], frame_->linesize[2], width_, height_);
    if (frame_->width != width_) {
        for (int y = 0; y < height_; ++y) {
            uint8_t* row = frame_->data[0] + static_cast<ptrdiff_t>(y) * frame_->linesize[0];
            row[width_] = row[width_ - 1];
        }
    }
    if (frame_->height != height_) {
        std::memcpy(frame_->data[0] + static_cast<ptrdiff_t>(height_) * frame_->linesize[0],
                    frame_->data[0] + static_cast<ptrdiff_t>(height_ - 1) * frame_->linesize[0], static_cast<size_t>(frame_->width));
    }
    frame_->pts = nextPts_++;
    frame_->pict_type = keyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (keyFrame) frame_->key_frame = 1;
    AccessUnit unit;
    if (avcodec_send_frame(context_, frame_) < 0) throw std::runtime_error("the H.264 encoder refused a picture");
    while (avcodec_receive_packet(context_, packet_) == 0) {
        unit.keyFrame = unit.keyFrame || (packet_->flags & AV_PKT_FLAG_KEY);
        for (auto [nal, size] : annexBUnits(packet_->data, static_cast<size_t>(packet_->size))) {
            int type = nal[0] & 0x1F;
            if (type == 7 || type == 8) continue;  // parameter sets travel in the format description
            usbscreen::ByteWriter out;
            out.u32BigEndian(static_cast<uint32_t>(size));
            unit.data.insert(unit.data.end(), out.bytes().begin(), out.bytes().end());
            unit.data.insert(unit.data.end(), nal, nal + size);
        }
        av_packet_unref(packet_);
    }
    return unit;
}

}  // namespace quintalis::simulator
