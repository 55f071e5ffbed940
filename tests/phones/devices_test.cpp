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

TEST(Devices, FindByIdThenNameThenPrefixIgnoringCase) {
    LogCapture logs;
    TestPhone work = testPhone(1, "Work iPhone");
    TestPhone home = testPhone(2, "Home iPhone");
    TestPhone tricky{"home iphone-2", "00008120-000000000001", UUID::fromName("x")};  // a name that is another's id
    PhoneRig rig({work, home, tricky});
    EXPECT_EQ(rig.devices.find("WORK IPHONE").id(), work.id);
    EXPECT_EQ(rig.devices.find("00008120-000000000002").id(), home.id);
    EXPECT_EQ(rig.devices.find("00008120-000000000001").id(), work.id);  // exact id beats a name
    EXPECT_EQ(rig.devices.find("home iphone").id(), home.id);            // a name beats a prefix
    EXPECT_EQ(rig.devices.find("00008120-000000000002").screen->name(), "Home iPhone");
    EXPECT_EQ(rig.devices.find("HOME IPHONE-").id(), "home iphone-2");   // prefix

    EXPECT_EQ(errorOf([&] { rig.devices.find(std::nullopt); }),
              "3 phones are connected, pass device. Phones: 00008120-000000000001 (home iphone-2), "
              "Home iPhone (00008120-000000000002), Work iPhone (00008120-000000000001)");
    EXPECT_EQ(errorOf([&] { rig.devices.find("Pixel"); }),
              "no phone matches \"Pixel\". Phones: 00008120-000000000001 (home iphone-2), "
              "Home iPhone (00008120-000000000002), Work iPhone (00008120-000000000001)");
}

TEST(Devices, NoSilentWrongPhone) {
    LogCapture logs;
    PhoneRig rig({testPhone(1, "Émilie's iPhone"), testPhone(2, "Straße"), testPhone(3, "ΣΟΦΊΑ")});
    // Letter case is ignored beyond ASCII.
    EXPECT_EQ(rig.devices.find("ÉMILIE'S IPHONE").screen->name(), "Émilie's iPhone");
    EXPECT_EQ(rig.devices.find("STRASSE").screen->name(), "Straße");
    EXPECT_EQ(rig.devices.find("σοφία").screen->name(), "ΣΟΦΊΑ");
    // A prefix of several ids picks none of them; one more character picks one.
    EXPECT_EQ(errorOf([&] { rig.devices.find("00008120"); }),
              "device \"00008120\" matches 3 phones, pass more of its id. Phones: Straße (00008120-000000000002), "
              "Émilie's iPhone (00008120-000000000001), ΣΟΦΊΑ (00008120-000000000003)");
    EXPECT_EQ(rig.devices.find("00008120-000000000003").screen->name(), "ΣΟΦΊΑ");
    // Neither does a name two phones share.
    PhoneRig twins({testPhone(1, "iPhone"), testPhone(2, "IPHONE")});
    EXPECT_EQ(errorOf([&] { twins.devices.find("iphone"); }),
              "device \"iphone\" matches 2 phones, pass more of its id. Phones: IPHONE (00008120-000000000002), "
              "iPhone (00008120-000000000001)");
}

TEST(Devices, NoPhoneOrOnePhoneThatNeedsNoName) {
    LogCapture logs;
    PhoneRig none({});
    EXPECT_EQ(errorOf([&] { none.devices.find(""); }), "no iPhone screen: plug the iPhone in over USB and unlock it");
    EXPECT_EQ(errorOf([&] { none.devices.find("x"); }), "no phone matches \"x\". No phones are plugged in.");
    TestPhone only = testPhone(1, "Only");
    PhoneRig one({only});
    EXPECT_EQ(one.devices.find(std::nullopt).id(), only.id);
    EXPECT_EQ(one.devices.find("").id(), only.id);
}

TEST(Devices, JSONShowsSizeOnlyOnceAFrameArrived) {
    LogCapture logs;
    TestPhone locked = testPhone(1, "Locked");
    locked.locked = true;
    TestPhone open = testPhone(2, "Open");
    PhoneRig rig({locked, open});
    auto all = rig.devices.all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].json(), (JSON{{"id", locked.id}, {"name", "Locked"}, {"bluetooth", false}}));
    EXPECT_EQ(all[1].json(),
              (JSON{{"id", open.id}, {"name", "Open"}, {"bluetooth", false}, {"width", 1170}, {"height", 2532}}));
}

TEST(Devices, APairedHostShowsOnlyWhileConnected) {
    LogCapture logs;
    TestPhone phone = testPhone(1, "Phone");
    PhoneRig rig({phone});
    rig.devices.pair(rig.devices.find(std::nullopt), phone.host);
    EXPECT_TRUE(rig.devices.all()[0].host);
    EXPECT_TRUE(rig.devices.unmatchedHosts().empty());

    for (const auto& c : rig.role.manager->services.at(1)->characteristics) rig.role.manager->unsubscribe(phone.host, c);
    rig.peripheral.sync([] {});
    EXPECT_FALSE(rig.devices.all()[0].host);
    EXPECT_TRUE(rig.devices.unmatchedHosts().empty());

    rig.connect(phone);
    EXPECT_EQ(rig.devices.all()[0].host, phone.host);
    EXPECT_EQ(rig.devices.all()[0].json()["bluetooth"], true);
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

TEST(Devices, PairingsSurviveARestartOfTheRegistry) {
    LogCapture logs;
    TestPhone phone = testPhone(1, "Phone");
    PhoneRig rig({phone});
    rig.devices.pair(rig.devices.find(std::nullopt), phone.host);
    Devices again(rig.capture, rig.peripheral, rig.clock, rig.devices.pairingsFile());
    EXPECT_FALSE(again.all()[0].host);
    again.start();
    EXPECT_EQ(again.all()[0].host, phone.host);
    EXPECT_TRUE(again.match(false, false).empty());  // nothing left to match: no probe
}
