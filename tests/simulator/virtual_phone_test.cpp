#include <gtest/gtest.h>

#include "simulator/simulator.h"
#include "simulator/virtual_phone.h"

using namespace quintalis;
using namespace quintalis::simulator;

namespace {

// Drives a phone with reports as the HID peripheral would send them.
struct Driver {
    VirtualPhone& phone;

    void pointAtPoints(double x, double y, uint8_t buttons = 0) {
        double scale = phone.pixelWidth() == 750 ? 2 : 3;
        phone.receive(ReportID::absolutePointer,
                      absolutePointerReport(buttons, pointerCoordinate(x * scale / (phone.pixelWidth() - 1)),
                                            pointerCoordinate(y * scale / (phone.pixelHeight() - 1))));
    }
    void tapAtPoints(double x, double y) {
        pointAtPoints(x, y);
        phone.receive(ReportID::relativeMouse, {1, 0, 0, 0});
        phone.receive(ReportID::relativeMouse, {0, 0, 0, 0});
    }
    void dragPoints(double x0, double y0, double x1, double y1) {
        pointAtPoints(x0, y0);
        phone.receive(ReportID::relativeMouse, {1, 0, 0, 0});
        for (int i = 1; i <= 10; ++i) pointAtPoints(x0 + (x1 - x0) * i / 10, y0 + (y1 - y0) * i / 10, 1);
        phone.receive(ReportID::relativeMouse, {0, 0, 0, 0});
    }
    std::string app() { return phone.groundTruth()["app"]; }
};

// Home screen icons are 62 points square in four columns from (29, 78).
constexpr double kSettingsX = 60, kSettingsY = 109;
constexpr double kNotesX = 151, kContactsX = 242;

}  // namespace

TEST(VirtualPhone, TapsOpenAppsAndPages) {
    VirtualPhone phone(0, {});
    Driver drive{phone};
    drive.tapAtPoints(kSettingsX, kSettingsY);
    EXPECT_EQ(drive.app(), "Settings");
    drive.tapAtPoints(100, 150 + 24);  // the first row: General
    drive.tapAtPoints(100, 150 + 24);  // then About
    EXPECT_EQ(phone.groundTruth()["page"], "Settings > General > About");
    drive.tapAtPoints(40, 70);  // back
    EXPECT_EQ(phone.groundTruth()["page"], "Settings > General");
    phone.receive(ReportID::consumer, consumerReport(kHomeUsage));
    EXPECT_EQ(drive.app(), "Home");
    drive.tapAtPoints(kNotesX, kSettingsY + 31 + 12);  // the name under the icon
    EXPECT_EQ(drive.app(), "Notes");
    phone.receive(ReportID::consumer, consumerReport(0x0223));
    drive.tapAtPoints(kNotesX - 31 - 20, kSettingsY);  // between two icons
    EXPECT_EQ(drive.app(), "Home");
}

TEST(VirtualPhone, DragsScrollListsAndASwipeUpFromTheBottomGoesHome) {
    VirtualPhone phone(0, {});
    Driver drive{phone};
    drive.tapAtPoints(kContactsX, kSettingsY);
    ASSERT_EQ(drive.app(), "Contacts");
    drive.dragPoints(200, 700, 200, 300);
    EXPECT_EQ(phone.groundTruth()["scroll"]["Contacts"], 400);
    drive.dragPoints(200, 300, 200, 900);  // back past the top: stops at 0
    EXPECT_EQ(phone.groundTruth()["scroll"]["Contacts"], 0);
    EXPECT_EQ(drive.app(), "Contacts");  // a drag is not a tap
    drive.dragPoints(196, 845, 196, 500);
    EXPECT_EQ(drive.app(), "Home");
}

TEST(VirtualPhone, RendersOnlyWhenSomethingChanged) {
    VirtualPhone phone(0, {});
    auto first = phone.frame();
    EXPECT_EQ(phone.frame(), first);
    EXPECT_FALSE(phone.receive(ReportID::keyboard, keyboardReport(0, 0)));
    EXPECT_EQ(phone.frame(), first);
    Driver{phone}.pointAtPoints(100, 100);
    auto moved = phone.frame();
    EXPECT_NE(moved, first);
    // The pointer is drawn: the pixel under it differs from the same spot before.
    size_t at = static_cast<size_t>(300) * moved->bytesPerRow() + 300 * 4;
    EXPECT_NE(moved->data()[at], first->data()[at]);
}

TEST(Simulator, ParsesPhoneCountsAndSetups) {
    std::string error;
    EXPECT_EQ(Simulator::parse("3", error)->size(), 3u);
    auto setups = Simulator::parse("phone,phone:locked:airplay,phone:no-assistivetouch:no-bluetooth", error);
    ASSERT_TRUE(setups);
    ASSERT_EQ(setups->size(), 3u);
    EXPECT_FALSE((*setups)[0].locked || (*setups)[0].airplay);
    EXPECT_TRUE((*setups)[1].locked && (*setups)[1].airplay && (*setups)[1].bluetooth);
    EXPECT_FALSE((*setups)[2].assistiveTouch || (*setups)[2].bluetooth);
    for (const char* bad : {"0", "5", "", "phone:sleepy", "phone,phone,phone,phone,phone"}) {
        EXPECT_FALSE(Simulator::parse(bad, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}
