// A USB phone takes seconds to start capturing: it leaves the bus and comes
// back. Nobody who lists the screens waits for that, nor for lockdown to name
// a phone newly plugged in, and the process's stop cuts a start short,
// leaving the phone as it found it.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <thread>

#include "phones/screen_capture.h"
#include "platform/linux/usb/usb_capture_devices.h"
#include "platform/usb/usb_ids.h"
#include "simulator/simulated_usb_bus.h"
#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/forwarding_usb.h"
#include "support/log_capture.h"
#include "support/manual_main_thread.h"

namespace quintalis {
namespace {

using namespace std::chrono_literals;
using testing::eventually;

constexpr char kStopWaits[] = "waiting for 1 capture start(s) to give up";

// Holds the start right after the reveal, as a real phone holds it while it
// re-enumerates, until the test lets it go.
class HoldingBus final : public testing::WrappingUsbBus {
public:
    explicit HoldingBus(UsbBus& real, testing::LogCapture& log) : WrappingUsbBus(real), log_(log) {}

    // Each wait is bounded only so that a fault shows as a failure, not a hang.
    bool waitUntilHeld() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [this] { return held_; });
    }
    // Lets the start go on once the stop waits for it.
    void releaseWhenStopWaits() {
        std::lock_guard lock(mutex_);
        release_ = true;
        changed_.notify_all();
    }

private:
    class Handle final : public testing::ForwardingUsbHandle {
    public:
        Handle(HoldingBus& bus, std::unique_ptr<UsbDeviceHandle> inner) : ForwardingUsbHandle(std::move(inner)), bus_(bus) {}
        UsbStatus controlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, Duration timeout) override {
            UsbStatus status = inner_->controlOut(requestType, request, value, index, timeout);
            if (request == usbscreen::kRevealRequest && index == usbscreen::kRevealIndex) bus_.hold();
            return status;
        }

    private:
        HoldingBus& bus_;
    };

    void hold() {
        {
            std::unique_lock lock(mutex_);
            held_ = true;
            changed_.notify_all();
            changed_.wait_for(lock, 10s, [this] { return release_; });
        }
        eventually([this] { return log_.contains(kStopWaits); });
    }
    std::unique_ptr<UsbDeviceHandle> wrap(const std::string&, std::unique_ptr<UsbDeviceHandle> inner) override {
        return std::make_unique<Handle>(*this, std::move(inner));
    }

    testing::LogCapture& log_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool release_ = false;
};

struct NoPictures final : CaptureSession {
    void stop() override {}
};

// Lockdown as slow as a busy usbmuxd or a phone asking for trust: after the
// first `answeredAtOnce` questions, each waits until the test lets it go.
class HeldLockdown final : public PhoneLockdown {
public:
    HeldLockdown(PhoneLockdown& real, int answeredAtOnce) : real_(real), answeredAtOnce_(answeredAtOnce) {}

    std::optional<PhoneFacts> facts(const std::string& udid) override {
        {
            std::unique_lock lock(mutex_);
            const bool held = ++asked_ > answeredAtOnce_;
            changed_.notify_all();
            // Bounded only so that a fault shows as a failure, not a hang.
            if (held) changed_.wait_for(lock, 10s, [this] { return released_; });
        }
        return real_.facts(udid);
    }
    bool usbmuxdRunning() override { return real_.usbmuxdRunning(); }

    bool waitUntilAsked(int times) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return asked_ >= times; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    PhoneLockdown& real_;
    const int answeredAtOnce_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int asked_ = 0;
    bool released_ = false;
};

// A virtual phone on the bus, and the backend asking a held lockdown about it.
struct LockdownRig {
    explicit LockdownRig(int answeredAtOnce) : lockdown(realBus, answeredAtOnce) {
        realBus.add(phone, PhoneFacts{"Test iPhone", "iPhone15,2"});
        screens = std::make_unique<ScreenCapture>(devices, clock, ScreenCapture::StartOn::ownQueue);
    }
    ~LockdownRig() {
        lockdown.release();
        // Stopped early in its handshake, the phone never releases its
        // clocks, and the stop waits for them on the fake clock: move it on
        // until the stop gives up.
        auto stopped = std::async(std::launch::async, [this] { devices.stopAll(); });
        while (stopped.wait_for(10ms) != std::future_status::ready) clock.advance(500ms);
    }

    std::vector<std::string> screenNames() {
        std::vector<std::string> names;
        for (const auto& screen : screens->all()) names.push_back(screen->name());
        return names;
    }

    testing::LogCapture log;
    testing::FakeClock clock;
    testing::ManualMainThread timers;
    simulator::SimulatedUsbDevice phone{"00008120000A1B2C3D4E5F07", [](SerialQueue&, auto) {
        return std::make_unique<NoPictures>();
    }};
    simulator::SimulatedUsbBus realBus;
    HeldLockdown lockdown;
    std::atomic<int> told{0};  // connection observers called
    // Outlives devices, whose end waits for the refreshes it set off.
    std::unique_ptr<ScreenCapture> screens;
    UsbCaptureDevices devices{realBus, lockdown, clock, {}, &timers};
};

TEST(UsbCaptureStart, TheScreenListAnswersWhileAPhoneStartsAndTheStopEndsTheStartUnclaimed) {
    testing::LogCapture log;
    testing::FakeClock clock;
    testing::ManualMainThread timers;
    simulator::SimulatedUsbDevice phone("00008120000A1B2C3D4E5F07", [](SerialQueue&, auto) {
        return std::make_unique<NoPictures>();
    });
    simulator::SimulatedUsbBus realBus;
    realBus.add(phone, PhoneFacts{"Test iPhone", "iPhone15,2"});
    HoldingBus bus(realBus, log);
    // Outlives devices, whose end waits for the refreshes it set off.
    std::unique_ptr<ScreenCapture> screens;
    UsbCaptureDevices devices(bus, realBus, clock, {}, &timers);
    screens = std::make_unique<ScreenCapture>(devices, clock, ScreenCapture::StartOn::ownQueue);

    // Returns while the phone starts, as the engine's start on the main loop must.
    screens->start();
    ASSERT_TRUE(bus.waitUntilHeld());
    auto listing = std::async(std::launch::async, [&] { return screens->all().size(); });
    const bool answered = listing.wait_for(10s) == std::future_status::ready;

    std::thread stop([&] { devices.stopAll(); });
    bus.releaseWhenStopWaits();
    stop.join();
    EXPECT_TRUE(answered) << "the screen list waited for the start";
    EXPECT_EQ(listing.get(), 0u);
    // The stop returned after the start gave up, before it claimed the
    // phone, and the phone that came back was hidden again: the usbmux
    // configuration is what others find.
    EXPECT_EQ(phone.events(), (std::vector<std::string>{"reveal", "hide", "set configuration 4"}));
    EXPECT_TRUE(log.contains(kStopWaits));
    EXPECT_TRUE(eventually([&] {
        return log.contains("capture failed for Test iPhone: cannot capture Test iPhone: Quintalis is stopping");
    }));
    EXPECT_TRUE(screens->all().empty());
}

TEST(UsbCaptureStart, ThePhonesAreListedWithoutWaitingForLockdownAndNamedOnceItAnswers) {
    LockdownRig rig(0);
    rig.devices.addConnectionObserver([&] { ++rig.told; });

    // The engine's start on the main loop, then a look at the bus as a
    // refresh or `usb-list` takes it, while lockdown is asked about the phone.
    auto mainLoop = std::async(std::launch::async, [&] {
        rig.screens->start();
        return rig.devices.discover().size();
    });
    ASSERT_TRUE(rig.lockdown.waitUntilAsked(1));
    const bool answered = mainLoop.wait_for(10s) == std::future_status::ready;
    const int toldBefore = rig.told;
    const bool screensAnswered =
        std::async(std::launch::async, [&] { return rig.screens->all().empty(); }).wait_for(10s) == std::future_status::ready;
    rig.lockdown.release();
    ASSERT_TRUE(answered) << "the main loop waited for lockdown";
    EXPECT_TRUE(screensAnswered) << "the screen list waited for lockdown";
    // Not listed as a nameless "iPhone" meanwhile: its capture would keep that name.
    EXPECT_EQ(mainLoop.get(), 0u);

    // Once lockdown answers, the owner hears of it and captures the phone by its name.
    EXPECT_TRUE(eventually([&] { return rig.told > toldBefore; }));
    EXPECT_TRUE(eventually([&] { return rig.screenNames() == std::vector<std::string>{"Test iPhone"}; }));
    auto found = rig.devices.discover();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].localizedName, "Test iPhone");
    EXPECT_EQ(found[0].modelID, "iOS Device (iPhone15,2)");
}

TEST(UsbCaptureStart, APhoneBackAtANewAddressForItsCaptureKeepsItsScreenWhileLockdownIsAskedAgain) {
    // The first question, about the phone as plugged in, is answered; the
    // one about it back from revealing its capture configuration is held.
    LockdownRig rig(1);
    rig.screens->start();
    ASSERT_TRUE(rig.lockdown.waitUntilAsked(2));
    ASSERT_TRUE(eventually([&] { return rig.screenNames() == std::vector<std::string>{"Test iPhone"}; }));

    // A refresh now (another phone plugged in, say) still finds it, at once.
    auto refreshed = std::async(std::launch::async, [&] { rig.screens->refresh(); });
    const bool answered = refreshed.wait_for(10s) == std::future_status::ready;
    const auto names = rig.screenNames();
    rig.lockdown.release();
    EXPECT_TRUE(answered) << "the refresh waited for lockdown";
    EXPECT_EQ(names, std::vector<std::string>{"Test iPhone"});
    EXPECT_FALSE(rig.log.contains("screen gone: Test iPhone"));
}

}  // namespace
}  // namespace quintalis
