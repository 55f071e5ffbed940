#include <gtest/gtest.h>

#include "bluetooth/report_map.h"
#include "platform/linux/bluez/bluez_names.h"
#include "support/engine_process.h"
#include "support/fake_bluez.h"

using namespace quintalis;
using namespace quintalis::testing;

// The built program on a system bus whose bluetoothd is the fake: it
// advertises, and a tap through the engine API reaches the phone's socket.
TEST(BluezEngine, ATapThroughTheApiArrivesAsPointerReportsOnThePhonesSocket) {
    PrivateBus bus;
    FakeBluez bluez(bus);
    bluez.addAdapter("hci0", true);
    bluez.start();
    TempDir home;
    EngineProcess engine("", home.path(), {{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}});
    ASSERT_TRUE(engine.waitFor([&] { return engine.json(engine.get("/status"))["bluetooth"] == "advertising as Skiffline"; }, 10))
        << engine.get("/status").body << engine.log();

    const char* address = "5C:AD:BA:00:00:0A";
    std::string device = bluez.connect("hci0", address);
    auto reports = bluez.characteristics("hci0", "1812");
    for (size_t i = 4; i < 8; ++i) bluez.enableNotifications("hci0", reports[i], device);
    std::string host = bluez::centralId(address).string();
    ASSERT_TRUE(engine.waitFor([&] { return engine.json(engine.get("/status"))["hosts"] == JSON::array({host}); }, 10))
        << engine.get("/status").body;

    auto tap = engine.post("/tap", {{"host", host}, {"x", 0.5}, {"y", 0.25}, {"fraction", true}});
    ASSERT_EQ(tap.status, 200) << tap.body;
    const std::string pointer = reports[5];
    // The tap's position, then the pointer's rest in the bottom-right corner.
    ASSERT_TRUE(engine.waitFor([&] { return bluez.received("hci0", pointer).size() == 3; }, 10));
    EXPECT_EQ(bluez.received("hci0", pointer), (std::vector<Bytes>{Bytes(5, 0), absolutePointerReport(0, 16384, 8192),
                                                                   absolutePointerReport(0, 32767, 32767)}));
    EXPECT_TRUE(engine.waitFor([&] { return bluez.received("hci0", reports[6]).size() == 3; }, 10));  // press, release
    EXPECT_EQ(engine.stop(), 0) << engine.log();
}
