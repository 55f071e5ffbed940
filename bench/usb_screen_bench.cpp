// The phone's screen over the cable, measured: per-frame parse + decode +
// change thumbnail against libavcodec's own decode of the same stream (the
// floor), what reading a frame as BGRA costs,
// the BGRA conversion by libyuv against libswscale's,
// the latency from the phone writing a frame to the frame being available,
// and the CPU a still screen costs. Prints a table.
//
//   build/bench/usb_screen_bench [frames, default 240] [still seconds, default 10]
#include <time.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}
#include <libyuv.h>

#include "platform/linux/usb/h264_decoder.h"
#include "platform/linux/usb/host_protocol.h"
#include "platform/linux/usb/usb_capture_devices.h"
#include "simulator/h264_encoder.h"
#include "simulator/simulated_usb_bus.h"
#include "simulator/virtual_phone.h"
#include "support/forwarding_usb.h"

using namespace quintalis;
using namespace quintalis::usbscreen;
using Clock_ = std::chrono::steady_clock;

namespace {

double ms(Clock_::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

// The virtual phone's home screen with a square moving across it: a screen
// where a little changes each frame, as on a phone being used.
PixelBufferRef frameNumber(const PixelBuffer& base, int i) {
    auto picture = std::make_shared<PixelBuffer>(base);
    int size = 160, x = (i * 23) % (base.width() - size), y = (i * 41) % (base.height() - size);
    for (int row = y; row < y + size; ++row) {
        for (int col = x; col < x + size; ++col) {
            uint8_t* px = picture->mutableRow(row) + col * 4;
            px[0] = static_cast<uint8_t>(i * 5);
            px[1] = 120;
            px[2] = static_cast<uint8_t>(255 - i * 3);
        }
    }
    return picture;
}

AVCodecContext* openDecoder(const Bytes& avcC) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->extradata = static_cast<uint8_t*>(av_mallocz(avcC.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(context->extradata, avcC.data(), avcC.size());
    context->extradata_size = static_cast<int>(avcC.size());
    context->thread_count = 1;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    avcodec_open2(context, codec, nullptr);
    return context;
}

// The BGRA conversion alone, libyuv against libswscale, on each decoded
// picture in turn (the order swapped every frame, so neither always finds
// the picture already in the cache).
struct ConversionTimes {
    std::vector<double> libyuv, swscale;
};
ConversionTimes conversionTimes(const std::vector<Bytes>& units, const Bytes& avcC) {
    AVCodecContext* context = openDecoder(avcC);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* sws = nullptr;
    std::vector<uint8_t> out;
    ConversionTimes times;
    int n = 0;
    for (const auto& unit : units) {
        av_new_packet(packet, static_cast<int>(unit.size()));
        std::memcpy(packet->data, unit.data(), unit.size());
        avcodec_send_packet(context, packet);
        av_packet_unref(packet);
        while (avcodec_receive_frame(context, frame) == 0) {
            // libswscale writes past the end of a row in whole SIMD blocks, so
            // its rows are padded here (the screens' buffers are not).
            int w = frame->width, h = frame->height, stride = (w * 4 + 63) / 64 * 64;
            out.resize(static_cast<size_t>(stride) * (h + 1));
            sws = sws_getCachedContext(sws, w, h, static_cast<AVPixelFormat>(frame->format), w, h, AV_PIX_FMT_BGRA,
                                       SWS_POINT, nullptr, nullptr, nullptr);
            auto yuv = [&] {
                auto start = Clock_::now();
                libyuv::I420ToARGBMatrix(frame->data[0], frame->linesize[0], frame->data[1], frame->linesize[1],
                                         frame->data[2], frame->linesize[2], out.data(), stride,
                                         &libyuv::kYuvI601Constants, w, h);
                times.libyuv.push_back(ms(Clock_::now() - start));
            };
            auto scale = [&] {
                auto start = Clock_::now();
                uint8_t* planes[4] = {out.data(), nullptr, nullptr, nullptr};
                int strides[4] = {stride, 0, 0, 0};
                sws_scale(sws, frame->data, frame->linesize, 0, h, planes, strides);
                times.swscale.push_back(ms(Clock_::now() - start));
            };
            if (n++ % 2) {
                yuv();
                scale();
            } else {
                scale();
                yuv();
            }
            av_frame_unref(frame);
        }
    }
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return times;
}

// libavcodec on its own, with the same settings: the floor.
std::vector<double> floorTimes(const std::vector<Bytes>& units, const Bytes& avcC) {
    AVCodecContext* context = openDecoder(avcC);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<double> times;
    for (const auto& unit : units) {
        auto start = Clock_::now();
        av_new_packet(packet, static_cast<int>(unit.size()));
        std::memcpy(packet->data, unit.data(), unit.size());
        avcodec_send_packet(context, packet);
        av_packet_unref(packet);
        while (avcodec_receive_frame(context, frame) == 0) av_frame_unref(frame);
        times.push_back(ms(Clock_::now() - start));
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return times;
}

double cpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The program's path: the FEED message parsed and answered, decoded, and
// (unless `decode`) the grey thumbnail the screen list makes of every frame
// to see change. `eager` also converts every frame to BGRA within its time,
// as before frames were converted only when read, and times the conversion
// alone: what a reader's first read of a frame costs; `thumbnail` times the
// thumbnail alone. Each frame's wall time, and the CPU the process spent on
// it: on a loaded machine the wall time counts waits for a core as well.
struct Times {
    std::vector<double> wall, cpu, read;
    void append(const Times& more) {
        auto rest = [](std::vector<double>& to, const std::vector<double>& from) {
            if (!from.empty()) to.insert(to.end(), from.begin() + 1, from.end());  // the key frame apart
        };
        rest(wall, more.wall);
        rest(cpu, more.cpu);
        rest(read, more.read);
    }
};
enum class Path { decode, thumbnail, eager };
Times projectTimes(const std::vector<Bytes>& feeds, const FormatDescription& format, Path path) {
    HostProtocol protocol(Clock::real());
    protocol.receive(parseMessage(device::ping()));
    protocol.receive(parseMessage(device::videoClockRequest(1, 0xD5, format)));
    H264Decoder decoder;
    decoder.configure(format);
    Times times;
    for (const auto& feed : feeds) {
        auto start = Clock_::now();
        double cpu = cpuSeconds();
        auto step = protocol.receive(parseMessage(feed));
        CapturedFrame frame = decoder.decode(*step.frame, path != Path::decode);
        if (path != Path::decode && !frame) std::fprintf(stderr, "no picture\n");
        if (path == Path::eager) {
            auto readStart = Clock_::now();
            frame.picture();
            times.read.push_back(ms(Clock_::now() - readStart));
        }
        if (path == Path::thumbnail) {
            auto thumbStart = Clock_::now();
            frame.greyThumbnail(90, 195);
            times.read.push_back(ms(Clock_::now() - thumbStart));
        } else if (path == Path::eager) {
            frame.greyThumbnail(90, 195);
        }
        times.wall.push_back(ms(Clock_::now() - start));
        times.cpu.push_back((cpuSeconds() - cpu) * 1000);
    }
    return times;
}

// Notes when the host's reads bring a frame (a large read) off the cable.
class TimedBus final : public testing::WrappingUsbBus {
public:
    using WrappingUsbBus::WrappingUsbBus;
    Clock_::time_point lastFrameRead() {
        std::lock_guard lock(mutex_);
        return lastFrameRead_;
    }

private:
    struct Timed final : testing::ForwardingUsbHandle {
        Timed(TimedBus& bus, std::unique_ptr<UsbDeviceHandle> h) : ForwardingUsbHandle(std::move(h)), bus(bus) {}
        UsbStatus bulkRead(uint8_t e, uint8_t* i, size_t c, size_t& g, Duration t) override {
            UsbStatus status = inner_->bulkRead(e, i, c, g, t);
            if (g >= 20 && std::memcmp(i + 16, "deef", 4) == 0) {  // a FEED, its subtype reversed on the wire
                std::lock_guard lock(bus.mutex_);
                bus.lastFrameRead_ = Clock_::now();
            }
            return status;
        }
        TimedBus& bus;
    };
    std::unique_ptr<UsbDeviceHandle> wrap(const std::string&, std::unique_ptr<UsbDeviceHandle> inner) override {
        return std::make_unique<Timed>(*this, std::move(inner));
    }
    std::mutex mutex_;
    Clock_::time_point lastFrameRead_;
};

// The same picture, numbered, as the virtual phone's encoder makes it and as
// FEED messages carry it.
struct Stream {
    std::vector<Bytes> units, feeds;
    std::vector<double> encoding;  // each frame's encode, the key frame apart
    Bytes avcC;
    FormatDescription format;
};

Stream makeStream(const PixelBuffer& base, int count) {
    Stream stream;
    simulator::H264Encoder encoder;
    for (int i = 0; i < count; ++i) {
        auto picture = frameNumber(base, i);
        auto start = Clock_::now();
        stream.units.push_back(encoder.encode(*picture, i == 0).data);
        if (i > 0) stream.encoding.push_back(ms(Clock_::now() - start));
    }
    stream.avcC = makeAvcC(encoder.sps(), encoder.pps());
    stream.format = videoFormat(static_cast<uint32_t>(base.width()), static_cast<uint32_t>(base.height()), stream.avcC);
    for (const auto& unit : stream.units) {
        SampleBuffer sample;
        sample.timing.push_back({CMTime{1, 60, 1, 0}, CMTime::nanoseconds(0), CMTime{}});
        sample.data = unit;
        sample.sampleCount = 1;
        sample.sampleSizes = {static_cast<uint32_t>(unit.size())};
        stream.feeds.push_back(device::feed(0x77, sample));
    }
    return stream;
}

void reportDecoding(const Stream& stream) {
    // Interleaved rounds, so all see the same machine load.
    std::vector<double> floor, libyuvTimes, swscaleTimes;
    Times decoded, thumbnailed, converted;
    for (int round = 0; round < 3; ++round) {
        auto c = conversionTimes(stream.units, stream.avcC);
        libyuvTimes.insert(libyuvTimes.end(), c.libyuv.begin(), c.libyuv.end());
        swscaleTimes.insert(swscaleTimes.end(), c.swscale.begin(), c.swscale.end());
        auto f = floorTimes(stream.units, stream.avcC);
        floor.insert(floor.end(), f.begin() + 1, f.end());  // the key frame apart
        decoded.append(projectTimes(stream.feeds, stream.format, Path::decode));
        thumbnailed.append(projectTimes(stream.feeds, stream.format, Path::thumbnail));
        converted.append(projectTimes(stream.feeds, stream.format, Path::eager));
    }
    std::printf("%-44s %8s %8s\n", "per frame (ms)", "p50", "p95");
    std::printf("%-44s %8.2f %8.2f\n", "the virtual phone's x264 encode", percentile(stream.encoding, 0.5),
                percentile(stream.encoding, 0.95));
    std::printf("%-44s %8.2f %8.2f\n", "BGRA conversion alone, libyuv", percentile(libyuvTimes, 0.5), percentile(libyuvTimes, 0.95));
    std::printf("%-44s %8.2f %8.2f\n", "BGRA conversion alone, libswscale", percentile(swscaleTimes, 0.5),
                percentile(swscaleTimes, 0.95));
    std::printf("%-44s %8.2f %8.2f\n", "libavcodec decode alone (floor)", percentile(floor, 0.5), percentile(floor, 0.95));
    auto row = [&](const char* name, const std::vector<double>& times) {
        std::printf("%-44s %8.2f %8.2f   ratio to the floor %.2f / %.2f\n", name, percentile(times, 0.5),
                    percentile(times, 0.95), percentile(times, 0.5) / percentile(floor, 0.5),
                    percentile(times, 0.95) / percentile(floor, 0.95));
    };
    row("parse + answer + decode", decoded.wall);
    row("... + luma thumbnail: each frame now", thumbnailed.wall);
    row("    the same, CPU", thumbnailed.cpu);
    std::printf("%-44s %8.2f %8.2f\n", "    the luma thumbnail alone", percentile(thumbnailed.read, 0.5),
                percentile(thumbnailed.read, 0.95));
    std::printf("%-44s %8.2f %8.2f\n", "a read: BGRA on first read (once a frame)", percentile(converted.read, 0.5),
                percentile(converted.read, 0.95));
    row("... + BGRA of every frame (as before)", converted.wall);
}

// Latency through the cable session against the simulated phone, then what a
// still screen costs.
void reportSession(const PixelBufferRef& base, int count, int stillSeconds) {
    std::mutex mutex;
    std::condition_variable arrived;
    SerialQueue* feedQueue = nullptr;
    std::function<void(PixelBufferRef)> feedCallback;
    struct NoStop final : CaptureSession {
        void stop() override {}
    };
    simulator::SimulatedUsbDevice device("00008120000A1B2C3D4E5F01", [&](SerialQueue& queue, std::function<void(PixelBufferRef)> on) {
        std::lock_guard lock(mutex);
        feedQueue = &queue;
        feedCallback = std::move(on);
        return std::make_unique<NoStop>();
    });
    simulator::SimulatedUsbBus bus;
    bus.add(device, PhoneFacts{"Bench iPhone", "iPhone15,2"});
    TimedBus timed(bus);
    UsbCaptureDevices capture(timed, bus, Clock::real());
    SerialQueue frames("bench.frames");
    int received = 0;
    Clock_::time_point receivedAt;
    CapturedFrame latest;
    auto show = [&](PixelBufferRef picture) {
        std::lock_guard lock(mutex);
        if (feedQueue) feedQueue->async([on = feedCallback, picture] { on(picture); });
    };
    // Listed once lockdown has been asked about it, on the backend's own queue.
    std::vector<CaptureDeviceInfo> found;
    while ((found = capture.discover()).empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    auto session = capture.startCapture(found[0], frames, [&](CapturedFrame frame) {
        frame.greyThumbnail(90, 195);  // what the screen list does with every frame
        std::lock_guard lock(mutex);
        ++received;
        receivedAt = Clock_::now();
        latest = std::move(frame);
        arrived.notify_all();
    });
    while ([&] { std::lock_guard lock(mutex); return feedQueue == nullptr; }()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<double> latency, fromWrite, fromWriteRead;
    for (int i = 0; i < std::min(count, 120); ++i) {
        int before;
        {
            std::lock_guard lock(mutex);
            before = received;
        }
        show(frameNumber(*base, i));
        std::unique_lock lock(mutex);
        if (!arrived.wait_for(lock, std::chrono::seconds(5), [&] { return received > before; })) break;
        CapturedFrame frame = latest;
        if (i > 0) {
            latency.push_back(ms(receivedAt - timed.lastFrameRead()));
            fromWrite.push_back(ms(receivedAt - device.lastFrameSentAt()));
        }
        lock.unlock();
        frame.picture();  // a reader's first look, as /screenshot's before its encode
        if (i > 0) fromWriteRead.push_back(ms(Clock_::now() - device.lastFrameSentAt()));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));  // the phone sends at most 30 a second
    }
    if (!latency.empty()) {
        std::printf("%-44s %8.2f %8.2f   (%zu frames)\n", "latency: read off the cable -> frame (ms)", percentile(latency, 0.5),
                    percentile(latency, 0.95), latency.size());
        std::printf("%-44s %8.2f %8.2f\n", "latency: phone's write -> frame (ms)", percentile(fromWrite, 0.5),
                    percentile(fromWrite, 0.95));
        std::printf("%-44s %8.2f %8.2f\n", "latency: phone's write -> frame as BGRA (ms)", percentile(fromWriteRead, 0.5),
                    percentile(fromWriteRead, 0.95));
    }

    // A still screen: nothing new to send, nothing to do.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    double cpu = cpuSeconds();
    auto start = Clock_::now();
    std::this_thread::sleep_for(std::chrono::seconds(stillSeconds));
    double seconds = std::chrono::duration<double>(Clock_::now() - start).count();
    std::printf("still screen: %.1f ms of CPU in %.0f s (%.3f%% of one core)\n", (cpuSeconds() - cpu) * 1000, seconds,
                (cpuSeconds() - cpu) / seconds * 100);
    session->stop();
}
}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 240;
    const int stillSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    av_log_set_level(AV_LOG_QUIET);
    simulator::VirtualPhone phone(0, {});
    PixelBufferRef base = phone.frame();
    std::printf("stream: %d frames of %dx%d, x264 constrained baseline, one slice\n", count, base->width(), base->height());
    reportDecoding(makeStream(*base, count));
    reportSession(base, count, stillSeconds);
    return 0;
}
