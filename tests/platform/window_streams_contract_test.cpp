// One contract for every backend of the window-stream seam: X windows on a
// private X server, the simulator's headless receiver windows, and an X
// server that lacks what streaming needs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

#include "platform/linux/xcb_window_streams.h"
#include "simulator/headless_receivers.h"
#include "support/eventually.h"
#include "support/test_window.h"
#include "support/xvfb.h"

namespace quintalis {
namespace {

using testing::eventually;

// One backend with a window of its own to stream.
struct Rig {
    virtual ~Rig() = default;
    virtual WindowStreams& streams() = 0;
    // Opens the window, all of one colour (0xRRGGBB); returns its number.
    virtual uint32_t open(uint32_t rgb) = 0;
    virtual void paint(uint32_t rgb) = 0;
    // Closes the window; false when this backend's windows never close.
    virtual bool close() { return false; }
};

struct XRig final : Rig {
    explicit XRig(const std::string& display) : x(XConnection::open(display)), link(display), streams_(link) {}
    WindowStreams& streams() override { return streams_; }
    uint32_t open(uint32_t rgb) override {
        window = std::make_unique<testing::TestWindow>(*x, 0, 0, 120, 200);
        paint(rgb);
        return window->number();
    }
    void paint(uint32_t rgb) override { window->fill(rgb, 0, 0, 120, 200); }
    bool close() override {
        window->destroy();
        return true;
    }

    std::shared_ptr<XConnection> x;
    XDisplayLink link;
    XcbWindowStreams streams_;
    std::unique_ptr<testing::TestWindow> window;
};

struct HeadlessRig final : Rig {
    WindowStreams& streams() override { return receivers; }
    uint32_t open(uint32_t rgb) override {
        surface = &receivers.addWindow("Receiver");
        paint(rgb);
        return receivers.windows().back().number;
    }
    void paint(uint32_t rgb) override {
        auto picture = std::make_shared<PixelBuffer>(390, 844);
        for (int y = 0; y < picture->height(); ++y) {
            uint8_t* row = picture->mutableRow(y);
            for (int x = 0; x < picture->width(); ++x) {
                row[x * 4] = rgb & 0xFF;
                row[x * 4 + 1] = (rgb >> 8) & 0xFF;
                row[x * 4 + 2] = (rgb >> 16) & 0xFF;
                row[x * 4 + 3] = 0xFF;
            }
        }
        surface->show(picture);
    }

    simulator::HeadlessReceivers receivers;
    simulator::ReceiverSurface* surface = nullptr;
};

struct Backend {
    const char* name;
    std::unique_ptr<Rig> (*make)();
    bool available;
};

// What a stream has delivered so far, as its queue saw it.
struct Seen {
    // Whether the newest frame's centre has that colour (0xRRGGBB), give or
    // take the rounding of a scaled picture.
    bool shows(uint32_t rgb) {
        std::lock_guard lock(mutex);
        if (frames.empty()) return false;
        const PixelBuffer& frame = *frames.back();
        const uint8_t* p = frame.row(frame.height() / 2) + frame.width() / 2 * 4;
        for (int channel = 0; channel < 3; ++channel) {
            if (std::abs(p[channel] - static_cast<int>((rgb >> (8 * channel)) & 0xFF)) > 4) return false;
        }
        return true;
    }
    size_t count() {
        std::lock_guard lock(mutex);
        return frames.size() + stops.size();
    }
    WindowStreams::Callbacks callbacks() {
        return {[this](PixelBufferRef frame) {
                    std::lock_guard lock(mutex);
                    frames.push_back(std::move(frame));
                },
                [this](const std::string& reason) {
                    std::lock_guard lock(mutex);
                    stops.push_back(reason);
                }};
    }

    std::mutex mutex;
    std::vector<PixelBufferRef> frames;
    std::vector<std::string> stops;
};

class WindowStreamsContract : public ::testing::TestWithParam<Backend> {};

TEST_P(WindowStreamsContract, StreamsAWindowFromItsFirstFrameUntilStoppedOrClosed) {
    auto rig = GetParam().make();
    SerialQueue queue("test.stream");
    auto reason = rig->streams().unavailableReason();
    ASSERT_EQ(!reason, GetParam().available);
    if (reason) {
        // Saying why up front, and again on every start.
        EXPECT_FALSE(reason->empty());
        EXPECT_THROW(rig->streams().start(1, queue, {}), WindowStreamError);
        return;
    }
    Seen seen;
    const uint32_t window = rig->open(0x3366CC);
    auto stream = rig->streams().start(window, queue, seen.callbacks());
    EXPECT_TRUE(eventually([&] { return seen.shows(0x3366CC); })) << "the first frame comes unasked";
    rig->paint(0xCC6633);
    EXPECT_TRUE(eventually([&] { return seen.shows(0xCC6633); })) << "a change brings a frame";
    stream->stop();
    const size_t before = seen.count();
    rig->paint(0x33CC66);
    EXPECT_FALSE(eventually([&] { return seen.count() != before; }, 0.3)) << "nothing follows stop";

    EXPECT_THROW(rig->streams().start(window + 0x100000, queue, {}), WindowStreamError);

    Seen closing;
    stream = rig->streams().start(window, queue, closing.callbacks());
    ASSERT_TRUE(eventually([&] { return closing.count() > 0; }));
    if (!rig->close()) return;
    EXPECT_TRUE(eventually([&] {
        std::lock_guard lock(closing.mutex);
        return closing.stops == std::vector<std::string>{"window closed"};
    }));
    stream.reset();
    queue.sync([] {});
    std::lock_guard lock(closing.mutex);
    EXPECT_EQ(closing.stops.size(), 1u) << "a stream ends once";
}

INSTANTIATE_TEST_SUITE_P(
    Backends, WindowStreamsContract,
    ::testing::Values(
        Backend{"x11", [] { return std::unique_ptr<Rig>(new XRig(testing::Xvfb::display())); }, true},
        Backend{"headless", [] { return std::unique_ptr<Rig>(new HeadlessRig()); }, true},
        Backend{"x11WithoutComposite",
                [] { return std::unique_ptr<Rig>(new XRig(testing::Xvfb::displayWithoutComposite())); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quintalis
