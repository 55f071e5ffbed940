// One contract for every backend of the capture-device seam: the USB backend
// on the virtual iPhone's side of the cable, the simulator's own cameras, and
// the backend that lists nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/linux/no_capture_devices.h"
#include "platform/linux/usb/usb_capture_devices.h"
#include "simulator/simulated_cameras.h"
#include "simulator/simulated_usb_bus.h"
#include "support/eventually.h"
#include "support/fake_clock.h"

namespace quintalis {
namespace {

using testing::eventually;

// One backend with what it needs around it.
struct Rig {
    virtual ~Rig() = default;
    virtual CaptureDevices& devices() = 0;
};

struct UsbRig final : Rig {
    UsbRig() {
        phone.frame();
        bus.add(device, PhoneFacts{"Simulated iPhone", "iPhone 15 Pro"});
    }
    CaptureDevices& devices() override { return capture; }

    SerialQueue queue{"test.phone"};
    simulator::VirtualPhone phone{0, {}};
    simulator::SimulatedCameras cameras{{&phone}, queue};
    simulator::SimulatedUsbDevice device{"00008120000A1B2C3D4E5F01", [this](SerialQueue& q, std::function<void(PixelBufferRef)> f) {
        return cameras.startCapture({phone.screenID(), phone.name(), "iOS Device", true}, q, [f](CapturedFrame frame) { f(frame.picture()); });
    }};
    simulator::SimulatedUsbBus bus;
    testing::FakeClock clock;
    UsbCaptureDevices capture{bus, bus, clock};
};

struct CamerasRig final : Rig {
    CaptureDevices& devices() override { return cameras; }
    SerialQueue queue{"test.phone"};
    simulator::VirtualPhone phone{0, {}};
    simulator::SimulatedCameras cameras{{&phone}, queue};
};

struct NoneRig final : Rig {
    CaptureDevices& devices() override { return none; }
    NoCaptureDevices none;
};

using MakeRig = std::unique_ptr<Rig> (*)();
struct Backend {
    const char* name;
    MakeRig make;
};

class CaptureDevicesContract : public ::testing::TestWithParam<Backend> {};

TEST_P(CaptureDevicesContract, ListsPhonesAnswersAccessAndDeliversFramesUntilStopped) {
    auto rig = GetParam().make();
    CaptureDevices& devices = rig->devices();
    devices.allowScreenCaptureDevices();

    int answers = 0;
    bool granted = false;
    devices.requestAccess([&](bool g) {
        ++answers;
        granted = g;
    });
    ASSERT_TRUE(eventually([&] { return answers == 1; }));
    EXPECT_EQ(granted, devices.authorizationStatus() != CaptureAuthorization::denied);
    if (devices.authorizationStatus() != CaptureAuthorization::authorized) {
        EXPECT_FALSE(devices.authorizationReason().empty());
    }

    for (const auto& device : devices.discover()) {
        SCOPED_TRACE(device.localizedName);
        EXPECT_FALSE(device.uniqueID.empty());
        EXPECT_FALSE(device.localizedName.empty());
        EXPECT_NE(device.modelID.find("iOS"), std::string::npos);
        EXPECT_TRUE(device.connected);

        SerialQueue queue("test.frames");
        std::atomic<int> frames{0};
        std::atomic<bool> offQueue{false};
        auto session = devices.startCapture(device, queue, [&](CapturedFrame frame) {
            if (!queue.isCurrent() || !frame || frame.width() == 0) offQueue = true;
            ++frames;
        });
        ASSERT_TRUE(eventually([&] { return frames > 0; }, 20));
        EXPECT_FALSE(offQueue);

        session->stop();
        session->stop();  // twice is harmless
        queue.sync([] {});
        int stopped = frames;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // time for a stray frame to show itself
        queue.sync([] {});
        EXPECT_EQ(frames, stopped) << "a frame arrived after stop()";
    }

    // A device no one listed cannot be captured, and says so.
    SerialQueue queue("test.frames");
    try {
        devices.startCapture({"00000000-0000000000000000", "Ghost", "iOS Device", true}, queue, [](CapturedFrame) {});
        ADD_FAILURE() << "captured a device that is not there";
    } catch (const CaptureStartError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("cannot capture Ghost", 0), 0u) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(EveryBackend, CaptureDevicesContract,
                         ::testing::Values(Backend{"usb", [] { return std::unique_ptr<Rig>(new UsbRig); }},
                                           Backend{"simulator", [] { return std::unique_ptr<Rig>(new CamerasRig); }},
                                           Backend{"none", [] { return std::unique_ptr<Rig>(new NoneRig); }}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quintalis
