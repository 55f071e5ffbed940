// The USB capture backend against the virtual iPhone's side of the cable:
// the whole protocol with real bytes, real H.264, and what goes wrong on a
// real cable (unplugging, silence, bad bytes, a busy or forbidden device).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "imaging/image_ops.h"
#include "phones/screen_capture.h"
#include "platform/linux/usb/usb_capture_devices.h"
#include "platform/usb/messages.h"
#include "simulator/simulated_usb_bus.h"
#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/forwarding_usb.h"
#include "support/log_capture.h"
#include "support/manual_main_thread.h"
#include "support/picture_difference.h"

namespace quintalis {
namespace {

using simulator::SimulatedUsbBus;
using simulator::SimulatedUsbDevice;
using testing::eventually;
using testing::meanDifference;
using std::chrono::seconds;
using namespace usbscreen;

constexpr char kUdid[] = "00008120-000A1B2C3D4E5F07";
const Bytes kUnknownKind{20, 0, 0, 0, 'x', 'x', 'x', 'x', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const std::string kUsbmuxdHolds =
    "cannot capture iPhone: usbmuxd holds the iPhone's USB connection: keep it away while capturing with `sudo systemctl "
    "mask --runtime --now usbmuxd` (`sudo systemctl unmask --runtime usbmuxd && sudo systemctl start usbmuxd` gives it "
    "back); trying again in ";

// Four colour blocks with a gradient: something a decoder can get visibly wrong.
PixelBufferRef picture(int width, int height, uint8_t shade) {
    auto p = std::make_shared<PixelBuffer>(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* px = p->mutableRow(y) + x * 4;
            px[0] = x >= width / 2 ? 220 : 30;
            px[1] = y >= height / 2 ? 200 : static_cast<uint8_t>(x * 255 / width);
            px[2] = shade;
            px[3] = 255;
        }
    }
    return p;
}

// The phone's screen as the test draws it: pictures go to the feed the
// phone started, on the phone's queue.
class Screen {
public:
    SimulatedUsbDevice::PictureFeed feed() {
        return [this](SerialQueue& queue, std::function<void(PixelBufferRef)> onPicture) {
            std::lock_guard lock(mutex_);
            queue_ = &queue;
            onPicture_ = std::move(onPicture);
            if (current_) queue.async([f = onPicture_, p = current_] { f(p); });
            return std::make_unique<Stop>(*this);
        };
    }
    void show(PixelBufferRef p) {
        std::lock_guard lock(mutex_);
        current_ = p;
        if (queue_) queue_->async([f = onPicture_, p] { f(p); });
    }

private:
    struct Stop final : CaptureSession {
        explicit Stop(Screen& s) : screen(s) {}
        ~Stop() override { stop(); }
        void stop() override {
            std::lock_guard lock(screen.mutex_);
            screen.queue_ = nullptr;
        }
        Screen& screen;
    };
    std::mutex mutex_;
    SerialQueue* queue_ = nullptr;
    std::function<void(PixelBufferRef)> onPicture_;
    PixelBufferRef current_;
};

// usbmuxd as the kernel and udev let it be: while it runs it holds the phone's
// usbmux interface, so selecting any configuration is refused (BUSY, as for
// any claimed interface); it chooses the usbmux configuration for a phone it
// takes; and udev starts it again whenever the phone comes back on the bus,
// unless it is masked. Until a udev rule is installed, opening is refused.
class UsbmuxdBus final : public UsbBus, public PhoneLockdown {
public:
    UsbmuxdBus(UsbBus& real, UsbStatus openStatus) : real_(real), openStatus_(openStatus) {}

    std::vector<UsbDeviceInfo> devices() override { return real_.devices(); }
    void addHotplugObserver(std::function<void()> observer) override { real_.addHotplugObserver(std::move(observer)); }
    UsbStatus open(const std::string& address, std::unique_ptr<UsbDeviceHandle>& handle) override {
        std::unique_ptr<UsbDeviceHandle> inner;
        UsbStatus status = openStatus_.load();
        if (status == UsbStatus::ok) status = real_.open(address, inner);
        if (status != UsbStatus::ok) return status;
        std::lock_guard lock(mutex_);
        if (seen_.insert(address).second && !masked_) {
            running_ = true;
            inner->setConfiguration(SimulatedUsbDevice::kUsbmuxConfiguration);
        }
        handle = std::make_unique<Held>(*this, std::move(inner));
        return status;
    }
    std::optional<PhoneFacts> facts(const std::string&) override { return std::nullopt; }  // no trust yet
    bool usbmuxdRunning() override {
        std::lock_guard lock(mutex_);
        return running_;
    }
    bool usbmuxdHas(const std::string& udid) override { return udid == kUdid && usbmuxdRunning(); }

    void openWith(UsbStatus status) { openStatus_ = status; }  // the udev rule installed
    void stop() {                                               // systemctl stop
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    void maskNow() {  // systemctl mask --runtime --now
        std::lock_guard lock(mutex_);
        masked_ = true;
        running_ = false;
    }

private:
    struct Held final : testing::ForwardingUsbHandle {
        Held(UsbmuxdBus& b, std::unique_ptr<UsbDeviceHandle> h) : ForwardingUsbHandle(std::move(h)), bus(b) {}
        UsbStatus setConfiguration(int v) override { return bus.usbmuxdRunning() ? UsbStatus::busy : inner_->setConfiguration(v); }
        UsbmuxdBus& bus;
    };
    UsbBus& real_;
    std::atomic<UsbStatus> openStatus_;
    std::mutex mutex_;
    std::set<std::string> seen_;
    bool running_ = false, masked_ = false;
};

class UsbCableTest : public ::testing::Test {
protected:
    UsbCableTest() : device_("00008120000A1B2C3D4E5F07", screen_.feed()) {
        bus_.add(device_, PhoneFacts{"Test iPhone", "iPhone15,2"});
        screen_.show(picture(1179, 2556, 90));
    }

    // The phones listed, once lockdown has been asked about them.
    static std::vector<CaptureDeviceInfo> listed(UsbCaptureDevices& devices) {
        std::vector<CaptureDeviceInfo> found;
        eventually([&] {
            found = devices.discover();
            return !found.empty();
        });
        return found;
    }
    std::unique_ptr<CaptureSession> start() {
        auto found = listed(capture_);
        if (found.empty()) throw CaptureStartError("no phone");
        return capture_.startCapture(found[0], frames_, [this](CapturedFrame f) {
            std::lock_guard lock(mutex_);
            latest_ = std::move(f);
            ++frameCount_;
        });
    }
    // What starting a capture on `devices` says: its refusal, or "started".
    std::string refusal(UsbCaptureDevices& devices, std::unique_ptr<CaptureSession>* session = nullptr) {
        try {
            auto started = devices.startCapture(listed(devices).at(0), frames_, [this](CapturedFrame) {
                std::lock_guard lock(mutex_);
                ++frameCount_;
            });
            if (session) *session = std::move(started);
        } catch (const CaptureStartError& error) {
            return error.what();
        }
        return "started";
    }
    CapturedFrame latestFrame() {
        std::lock_guard lock(mutex_);
        return latest_;
    }
    int frameCount() {
        std::lock_guard lock(mutex_);
        return frameCount_;
    }
    bool framesCome() {
        int before = frameCount();
        return eventually([&] { return frameCount() > before; });
    }
    bool frameLike(const PixelBufferRef& expected) {
        return eventually([&] {
            auto f = latestFrame();
            return f && f.width() == expected->width() && f.height() == expected->height() &&
                   meanDifference(*f.picture(), *expected) < 3.0;
        });
    }
    // A frame is seen for change from its luma alone, as the grey of the
    // one picture any reader gets.
    static void expectGreyFromLumaOnly(const CapturedFrame& frame) {
        auto grey = frame.greyThumbnail(90, 195);
        EXPECT_FALSE(frame.converted());
        PixelBufferRef pictures[2];
        std::thread other([&] { pictures[0] = frame.picture(); });
        pictures[1] = frame.picture();
        other.join();
        EXPECT_EQ(pictures[0], pictures[1]);
        auto expected = greyThumbnail(*pictures[0], 90, 195);
        ASSERT_EQ(grey.size(), expected.size());
        // Box edges fall a little differently in the two scalings: alike on
        // average, not pixel for pixel.
        double sum = 0;
        for (size_t i = 0; i < grey.size(); ++i) sum += std::abs(grey[i] - expected[i]);
        EXPECT_LT(sum / static_cast<double>(grey.size()), 2.0);
    }
    // A line of the phone's that starts so, for reasons a library words.
    bool logged(const std::string& start) {
        return eventually([&] {
            auto lines = log_.lines();
            return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
        });
    }
    // The reader measures its waits on the fake clock: move it on in steps
    // until the session has given up, however late its thread started.
    bool advanceUntilLogged(const std::string& line) {
        return eventually([&] {
            clock_.advance(std::chrono::milliseconds(500));
            return log_.contains(line);
        });
    }
    bool restored() {
        auto events = device_.events();
        return std::find(events.begin(), events.end(), "hide") != events.end() &&
               events.back() == "set configuration " + std::to_string(SimulatedUsbDevice::kUsbmuxConfiguration);
    }
    std::string lastConfiguration() {
        auto events = device_.events();
        auto last = std::find_if(events.rbegin(), events.rend(), [](const std::string& e) { return e.rfind("set configuration", 0) == 0; });
        return last == events.rend() ? std::string() : *last;
    }
    // The wait after a capture that failed passes.
    void waitOut() {
        ASSERT_TRUE(eventually([&] { return !timers_.delays().empty(); }));
        timers_.fireTimers();
    }

    testing::LogCapture log_;
    testing::FakeClock clock_;
    testing::ManualMainThread timers_;  // the waits before a failed phone is tried again
    Screen screen_;
    SimulatedUsbDevice device_;
    SimulatedUsbBus bus_;
    // Outlives capture_, whose end waits for the refreshes it set off.
    std::unique_ptr<ScreenCapture> screens_;
    UsbCaptureDevices capture_{bus_, bus_, clock_, {}, &timers_};
    SerialQueue frames_{"test.frames"};
    std::mutex mutex_;
    CapturedFrame latest_;
    int frameCount_ = 0;
};

TEST_F(UsbCableTest, StreamsTheScreenAndRestoresThePhone) {
    auto found = listed(capture_);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].uniqueID, kUdid);
    EXPECT_EQ(found[0].localizedName, "Test iPhone");
    EXPECT_EQ(found[0].modelID, "iOS Device (iPhone15,2)");

    auto session = start();
    EXPECT_TRUE(frameLike(picture(1179, 2556, 90)));
    EXPECT_TRUE(logged("Test iPhone over USB: H.264 1179\u00d72556"));
    screen_.show(picture(1179, 2556, 250));
    EXPECT_TRUE(frameLike(picture(1179, 2556, 250)));
    // A rotation: a new size, new parameter sets, same session.
    screen_.show(picture(2556, 1179, 10));
    ASSERT_TRUE(eventually([&] { return latestFrame() && latestFrame().width() == 2556; }));
    expectGreyFromLumaOnly(latestFrame());
    EXPECT_TRUE(frameLike(picture(2556, 1179, 10)));
    EXPECT_TRUE(logged("Test iPhone over USB: H.264 2556\u00d71179"));

    session->stop();
    EXPECT_TRUE(logged("Test iPhone over USB: stream ended (stopped)"));
    EXPECT_TRUE(restored());
    EXPECT_EQ(device_.violations(), std::vector<std::string>{});
    // Audio was answered (skew, go!) and its packet passed over without a word.
    for (const auto& line : log_.lines()) EXPECT_EQ(line.find("skipped"), std::string::npos) << line;
}

TEST_F(UsbCableTest, BadBytesEndTheSessionOrSkipTheFrameAndRestoreThePhone) {
    SampleBuffer corrupt;
    corrupt.timing.push_back({});
    corrupt.data = Bytes{0, 0, 0, 6, 0x41, 0xFF, 0x13, 0x37, 0x00, 0xAA};
    corrupt.sampleCount = 1;
    corrupt.sampleSizes = {10};
    // A whole message whose sample buffer claims more than the message holds.
    Bytes truncatedFeed = device::feed(1, corrupt);
    truncatedFeed[21] += 1;
    // A new format whose H.264 configuration the decoder cannot take.
    SampleBuffer reformatted;
    reformatted.timing.push_back({});
    reformatted.format = videoFormat(1179, 2556, Bytes{0, 1, 2, 3});
    const struct {
        Bytes bytes;
        bool ends;            // else the stream goes on
        std::string logLine;  // how the log's line starts, after "Test iPhone over USB: "
    } cases[] = {
        {kUnknownKind, true, "stream ended (protocol error: a message of unknown kind 'xxxx')"},
        {device::request(1, fourCC("zzzz"), 5), true,
         "stream ended (protocol error: the iPhone asked 'zzzz', a request this program does not know)"},
        {Bytes{3, 0, 0, 0}, true, "stream ended (the iPhone sent a message with an impossible length)"},
        {device::feed(1, reformatted), true,
         "stream ended (cannot decode the stream: unreadable H.264 configuration: an avcC record of an unknown version)"},
        {device::notice(1, fourCC("zzzz")), false, "skipped an unknown notice 'zzzz'"},
        {truncatedFeed, false, "skipped an unreadable frame: "},
        {device::feed(1, corrupt), false, "skipped a frame it could not decode ("},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logLine);
        auto session = start();
        ASSERT_TRUE(framesCome());
        device_.sendRaw(c.bytes);
        EXPECT_TRUE(logged("Test iPhone over USB: " + c.logLine));
        if (c.ends) {
            EXPECT_TRUE(eventually([&] { return restored(); }));
            waitOut();
        } else {
            // Passed over: the next picture still arrives.
            screen_.show(picture(1179, 2556, static_cast<uint8_t>(frameCount() * 7)));
            EXPECT_TRUE(framesCome());
        }
        session.reset();
        EXPECT_TRUE(restored());
    }
}

TEST_F(UsbCableTest, UnplugAndSilenceEndTheSession) {
    // Unplugged mid-stream: the session ends, the phone leaves the list.
    auto session = start();
    ASSERT_TRUE(framesCome());
    device_.unplug();
    EXPECT_TRUE(logged("Test iPhone over USB: stream ended (the iPhone was unplugged)"));
    EXPECT_TRUE(capture_.discover().empty());
    session.reset();
    device_.plug();

    // A phone that never pings does not trust this computer.
    device_.faults.noPing = true;
    session = start();
    EXPECT_TRUE(advanceUntilLogged("Test iPhone over USB: stream ended (no answer from the iPhone: unlock it and tap Trust, then plug it in again)"));
    EXPECT_TRUE(eventually([&] { return restored(); }));
    session.reset();
    waitOut();

    // One that pings and then says nothing.
    device_.faults.noPing = false;
    device_.faults.silentAfterPing = true;
    session = start();
    ASSERT_TRUE(eventually([&] {
        auto e = device_.events();
        return std::find(e.begin(), e.end(), "ping") != e.end();
    }));
    EXPECT_TRUE(advanceUntilLogged("Test iPhone over USB: stream ended (the iPhone answered the ping and then nothing more: unplug it and plug it in again)"));
    session.reset();
    waitOut();

    // One that never releases its clocks: stopping gives up after its wait.
    device_.faults.silentAfterPing = false;
    device_.faults.neverReleases = true;
    session = start();
    ASSERT_TRUE(framesCome());
    std::thread stopper([&] { session->stop(); });
    EXPECT_TRUE(advanceUntilLogged("Test iPhone over USB: stream ended (stopped; the iPhone did not release its clocks)"));
    stopper.join();
    EXPECT_TRUE(restored());
}

TEST_F(UsbCableTest, AFailedStreamDropsItsScreenAndThePhoneIsCapturedAgain) {
    // The phone stays on the bus after a protocol error: no hot-plug event
    // comes, yet the dead screen goes and, after a second, a new capture
    // brings frames.
    screens_ = std::make_unique<ScreenCapture>(capture_, clock_);
    screens_->start();
    auto onlyScreen = [&](ScreenRef not_) {
        ScreenRef found;
        EXPECT_TRUE(eventually([&] {
            auto all = screens_->all();
            if (all.size() == 1 && all[0] != not_ && all[0]->frame()) found = all[0];
            return found != nullptr;
        }));
        return found;
    };
    ScreenRef first = onlyScreen(nullptr);
    ASSERT_TRUE(first);
    device_.sendRaw(kUnknownKind);
    EXPECT_TRUE(logged("screen gone: Test iPhone"));
    EXPECT_TRUE(first->ended());
    EXPECT_TRUE(logged("capture failed for Test iPhone: cannot capture Test iPhone: its stream ended (protocol error: a "
                       "message of unknown kind 'xxxx'); trying again in 1 s"));
    EXPECT_EQ(screens_->all().size(), 0u);
    EXPECT_EQ(timers_.delays(), std::vector<Duration>{seconds(1)});
    timers_.fireTimers();
    ScreenRef second = onlyScreen(first);
    ASSERT_TRUE(second);
    screen_.show(picture(1179, 2556, 250));
    EXPECT_TRUE(eventually([&] { return meanDifference(*second->frame(), *picture(1179, 2556, 250)) < 3.0; }));
    EXPECT_FALSE(second->ended());
    EXPECT_EQ(device_.violations(), std::vector<std::string>{});
}

TEST_F(UsbCableTest, APhoneThatFailsAgainIsTriedLessOftenUntilItStreamsSteadily) {
    auto fail = [&] {
        EXPECT_TRUE(eventually([&] { return frameCount() > 0; }));
        device_.sendRaw(kUnknownKind);
        EXPECT_TRUE(eventually([&] { return timers_.delays().size() == 1; }));
        auto waits = timers_.delays();
        timers_.fireTimers();
        return waits;
    };
    auto session = start();
    EXPECT_EQ(fail(), std::vector<Duration>{seconds(1)});
    session = start();
    EXPECT_EQ(fail(), std::vector<Duration>{seconds(2)});
    // Half a minute of streaming, and the next failure is a first one again.
    session = start();
    clock_.advance(seconds(30));
    EXPECT_EQ(fail(), std::vector<Duration>{seconds(1)});
}

TEST_F(UsbCableTest, APhoneLeftInItsCaptureConfigurationIsRestoredFirst) {
    // A capture that died without restoring: revealed, configured, released.
    std::unique_ptr<UsbDeviceHandle> handle;
    ASSERT_EQ(bus_.open(bus_.devices()[0].address, handle), UsbStatus::ok);
    handle->controlOut(0x40, 0x52, 0, 2, {});
    ASSERT_EQ(bus_.open(bus_.devices()[0].address, handle), UsbStatus::ok);
    ASSERT_EQ(handle->setConfiguration(5), UsbStatus::ok);

    auto session = start();
    EXPECT_TRUE(log_.contains("Test iPhone over USB: restoring the configuration a previous capture left behind"));
    EXPECT_TRUE(framesCome());

    // While it is captured, another program's claim is refused, and so is a second capture.
    EXPECT_EQ(handle->claimInterface(2), UsbStatus::noDevice);  // its address went with the reveal
    ASSERT_EQ(bus_.open(bus_.devices()[0].address, handle), UsbStatus::ok);
    EXPECT_EQ(handle->claimInterface(2), UsbStatus::busy);
    EXPECT_EQ(refusal(capture_), "cannot capture Test iPhone: another program is capturing its screen; trying again in 1 s");
}

TEST_F(UsbCableTest, WhatStandsInTheWayIsSaidWithTheCommandsThatMendIt) {
    UsbmuxdBus usbmuxd(bus_, UsbStatus::access);
    UsbCaptureDevices devices(usbmuxd, usbmuxd, clock_, {}, &timers_);
    auto found = listed(devices);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].localizedName, "iPhone");  // lockdown said nothing
    EXPECT_EQ(found[0].modelID, "iOS Device (05ac:12a8)");
    EXPECT_EQ(devices.authorizationStatus(), CaptureAuthorization::denied);
    EXPECT_EQ(devices.authorizationReason(),
              "no permission to open the iPhone's USB device: install the udev rule with `sudo quintalis install-udev-rule`, "
              "then plug the iPhone in again");

    // The rule installed, the device opens and the denial is gone; what
    // stands in the way now is usbmuxd, which keeps its own configuration.
    usbmuxd.openWith(UsbStatus::ok);
    EXPECT_EQ(refusal(devices), kUsbmuxdHolds + "1 s");
    EXPECT_EQ(devices.authorizationStatus(), CaptureAuthorization::authorized);
    EXPECT_EQ(devices.authorizationReason(), "");
    EXPECT_EQ(lastConfiguration(), "set configuration 4");

    // A plain stop does not last: the reveal brings the phone back on the
    // bus, and udev starts usbmuxd for it.
    usbmuxd.stop();
    waitOut();
    EXPECT_EQ(refusal(devices), kUsbmuxdHolds + "2 s");
    EXPECT_EQ(lastConfiguration(), "set configuration 4");

    // Masked, it stays away through the reveal: the capture runs, and at its
    // end the phone is put back and the user told how to give usbmuxd back.
    usbmuxd.maskNow();
    waitOut();
    std::unique_ptr<CaptureSession> session;
    ASSERT_EQ(refusal(devices, &session), "started");
    EXPECT_TRUE(framesCome());
    session.reset();
    EXPECT_TRUE(restored());
    EXPECT_TRUE(logged("iPhone over USB: usbmuxd is still kept away; `sudo systemctl unmask --runtime usbmuxd && sudo "
                       "systemctl start usbmuxd` gives it back"));
}

TEST_F(UsbCableTest, APhoneThatCannotStartWaitsLongerEachTimeAndIsLeftAloneMeanwhile) {
    UsbmuxdBus usbmuxd(bus_, UsbStatus::ok);
    UsbCaptureDevices devices(usbmuxd, usbmuxd, clock_, {}, &timers_);
    std::atomic<int> lookAgain{0};
    devices.addConnectionObserver([&] { ++lookAgain; });
    auto reveals = [&] {
        auto events = device_.events();
        return std::count(events.begin(), events.end(), "reveal");
    };
    std::vector<int> waits;
    for (int attempt = 1; attempt <= 8; ++attempt) {
        const std::string refused = kUsbmuxdHolds + std::to_string(attempt <= 6 ? 1 << (attempt - 1) : 60) + " s";
        EXPECT_EQ(refusal(devices), refused);
        // Asked again while it waits (another phone plugged in, say): the
        // phone is not touched, and the answer says how long is left.
        clock_.advance(std::chrono::milliseconds(500));
        EXPECT_EQ(refusal(devices), refused);
        EXPECT_EQ(reveals(), attempt);
        ASSERT_EQ(timers_.delays().size(), 1u);
        waits.push_back(static_cast<int>(std::chrono::duration_cast<seconds>(timers_.delays()[0]).count()));
        int before = lookAgain;
        timers_.fireTimers();
        // The wait over, the owner is told to look again.
        EXPECT_TRUE(eventually([&] { return lookAgain > before; }));
    }
    EXPECT_EQ(waits, (std::vector<int>{1, 2, 4, 8, 16, 32, 60, 60}));
    EXPECT_EQ(lastConfiguration(), "set configuration 4");
}

TEST(UdidTest, SerialsAreWrittenAsIOSToolsWriteThem) {
    // Newer phones' 24 characters, which some stacks pad with NULs to 40;
    // older phones' 40 hex characters stay as they are.
    EXPECT_EQ(udidOfSerial(std::string("00008120000A1B2C3D4E5F07") + std::string(16, '\0')), kUdid);
    EXPECT_EQ(udidOfSerial("00008120000A1B2C3D4E5F07"), kUdid);
    EXPECT_EQ(udidOfSerial("0123456789abcdef0123456789abcdef01234567"), "0123456789abcdef0123456789abcdef01234567");
}

}  // namespace
}  // namespace quintalis
