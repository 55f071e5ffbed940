#include <gtest/gtest.h>

#include "support/log_capture.h"
#include "support/phone_rig.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const DeviceError& error) {
        return error.what();
    }
    return "(no error)";
}

}  // namespace

TEST(Devices, FindByIdThenNameThenPrefixIgnoringCaseAndNeverAGuess) {
    LogCapture logs;
    TestPhone work = testPhone(1, "Work iPhone");
    TestPhone home = testPhone(2, "Straße");
    TestPhone tricky{"work iphone-2", "00008120-000000000001", UUID::fromName("x")};  // a name that is another's id
    PhoneRig rig({work, home, tricky});
    EXPECT_EQ(rig.devices.find("WORK IPHONE").id(), work.id);
    EXPECT_EQ(rig.devices.find("00008120-000000000001").id(), work.id);  // exact id beats a name
    EXPECT_EQ(rig.devices.find("STRASSE").id(), home.id);                // a name beats a prefix, in any case
    EXPECT_EQ(rig.devices.find("WORK IPHONE-").id(), tricky.id);         // prefix

    const std::string listing = "Phones: 00008120-000000000001 (work iphone-2), Straße (00008120-000000000002), "
                                "Work iPhone (00008120-000000000001)";
    EXPECT_EQ(errorOf([&] { rig.devices.find(std::nullopt); }), "3 phones are connected, pass device. " + listing);
    EXPECT_EQ(errorOf([&] { rig.devices.find("Pixel"); }), "no phone matches \"Pixel\". " + listing);
    // A prefix of several ids picks none of them, nor does a name two phones share.
    EXPECT_EQ(errorOf([&] { rig.devices.find("00008120-00000000000"); }),
              "device \"00008120-00000000000\" matches 2 phones, pass more of its id. Phones: Straße "
              "(00008120-000000000002), Work iPhone (00008120-000000000001)");
    PhoneRig twins({testPhone(1, "iPhone"), testPhone(2, "IPHONE")});
    EXPECT_NE(errorOf([&] { twins.devices.find("iphone"); }).find("matches 2 phones"), std::string::npos);

    PhoneRig none({});
    EXPECT_EQ(errorOf([&] { none.devices.find(""); }), "no iPhone screen: plug the iPhone in over USB and unlock it");
    PhoneRig one({work});
    EXPECT_EQ(one.devices.find(std::nullopt).id(), work.id);
}

TEST(Devices, APairedHostShowsOnlyWhileConnectedAndSurvivesARestart) {
    LogCapture logs;
    TestPhone locked = testPhone(2, "Zed");
    locked.locked = true;
    PhoneRig rig({testPhone(1, "Phone"), locked});
    const TestPhone& phone = rig.phone(0);
    rig.devices.pair(rig.devices.find("Phone"), phone.host);
    EXPECT_EQ(rig.devices.all()[0].json(), (JSON{{"id", phone.id}, {"name", "Phone"}, {"bluetooth", true},
                                                 {"width", 1170}, {"height", 2532}}));
    EXPECT_EQ(rig.devices.all()[1].json(), (JSON{{"id", locked.id}, {"name", "Zed"}, {"bluetooth", false}}))
        << "no size before a frame";

    for (const auto& c : rig.role.manager->services.at(1)->characteristics) rig.role.manager->unsubscribe(phone.host, c);
    rig.peripheral.sync([] {});
    EXPECT_FALSE(rig.devices.all()[0].host);
    rig.connect(phone);
    EXPECT_EQ(rig.devices.all()[0].host, phone.host);

    Devices again(rig.capture, rig.peripheral, rig.clock, rig.devices.pairingsFile());
    again.start();
    EXPECT_EQ(again.all()[0].host, phone.host);
}

TEST(Devices, InputForAPhoneExplainsWhyThereIsNone) {
    LogCapture logs;
    TestPhone a = testPhone(1, "Alpha");
    TestPhone b = testPhone(2, "Beta");
    b.pointerVisible = false;  // AssistiveTouch off: matching cannot tell
    TestPhone lonely = testPhone(3, "Gamma");
    PhoneRig rig({a, b});
    rig.plug(lonely);  // a screen whose phone never connects over Bluetooth

    // Alpha gets matched by the pass that the request runs.
    EXPECT_EQ(rig.devices.input(rig.devices.find("Alpha"))->host(), a.host);
    EXPECT_EQ(errorOf([&] { rig.devices.input(rig.devices.find("Beta")); }),
              "could not tell which Bluetooth connection is Beta: unlock it, check AssistiveTouch is on, then POST /match");

    // With the only unmatched host paired by hand, nothing is left for Gamma.
    rig.devices.pair(rig.devices.find("Beta"), b.host);
    EXPECT_EQ(errorOf([&] { rig.devices.input(rig.devices.find("Gamma")); }),
              "Gamma has no Bluetooth connection: pair \"Skiffline\" in its Bluetooth settings");
}
