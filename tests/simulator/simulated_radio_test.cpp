#include <gtest/gtest.h>

#include "bluetooth/hid_peripheral.h"
#include "simulator/simulator.h"
#include "support/eventually.h"
#include "support/log_capture.h"

using namespace quintalis;
using namespace quintalis::simulator;
using namespace std::chrono_literals;
using quintalis::testing::eventually;

TEST(SimulatedRadio, PhonesConnectAndAFloodOfReportsArrivesWholeAndInOrder) {
    quintalis::testing::LogCapture logs;
    Simulator simulator({PhoneSetup{}, PhoneSetup{false, true, false}});  // the second has Bluetooth off
    HIDPeripheral peripheral(simulator.radio(), "Skiffline");
    peripheral.start();
    ASSERT_TRUE(eventually([&] { return peripheral.connectedHosts().size() == 1; }));
    UUID host = peripheral.connectedHosts().front();
    EXPECT_EQ(host.string(), simulator.groundTruth()["phones"][0]["central"]);
    EXPECT_EQ(peripheral.state(), "1 connected, advertising as Skiffline");

    // Far more than the transmit queue holds, all at once: the last one wins.
    for (int i = 0; i <= 60; ++i) {
        peripheral.send(ReportID::absolutePointer, absolutePointerReport(0, static_cast<uint16_t>(i * 500), 100), host);
    }
    ASSERT_TRUE(eventually([&] {
        auto pointer = simulator.groundTruth()["phones"][0]["pointer"];
        return !pointer.is_null() && pointer["x"] == std::round(30000 / 32767.0 * 1178);
    })) << simulator.groundTruth().dump();
    EXPECT_GT(static_cast<SimulatedRadio&>(simulator.radio()).refusedUpdates(), 0u);
    peripheral.sync([] {});
}
