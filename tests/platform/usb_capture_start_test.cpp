// A USB phone takes seconds to start capturing: it leaves the bus and comes
// back. Nobody who lists the screens waits for that, and the process's stop
// cuts it short, leaving the phone as it found it.
#include <gtest/gtest.h>

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
    UsbCaptureDevices devices(bus, realBus, clock, {}, &timers);
    auto screens = std::make_unique<ScreenCapture>(devices, clock, ScreenCapture::StartOn::ownQueue);

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
    screens.reset();
}

}  // namespace
}  // namespace quintalis
