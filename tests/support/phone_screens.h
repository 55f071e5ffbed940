#pragma once

#include <string>
#include <vector>

#include "bluetooth/keymap.h"
#include "bluetooth/report_map.h"
#include "simulator/virtual_phone.h"

namespace quintalis::testing {

// One picture of a walk through the virtual iPhone's screens, named after
// what led to it.
struct PhoneScreen {
    std::string step;
    PixelBufferRef picture;
};

// A walk through the first virtual iPhone (1179 × 2556) as a user takes it,
// one picture after each step: the pointer appearing, opening apps and
// pages, going back, scrolling Settings and Contacts, typing into Notes a
// character at a time and deleting one. Each picture follows from the one
// before, so the walk holds the transitions a reader sees in use.
inline std::vector<PhoneScreen> phoneScreenWalk() {
    simulator::VirtualPhone phone(0, {});
    std::vector<PhoneScreen> walk;
    auto shoot = [&](const std::string& step) { walk.push_back({step, phone.frame()}); };
    // Points to the report's fractions: the screen is 393 × 852 points at 3×.
    auto point = [&](double x, double y, uint8_t buttons = 0) {
        phone.receive(ReportID::absolutePointer,
                      absolutePointerReport(buttons, pointerCoordinate(x * 3 / (phone.pixelWidth() - 1)),
                                            pointerCoordinate(y * 3 / (phone.pixelHeight() - 1))));
    };
    auto tap = [&](double x, double y, const std::string& step) {
        point(x, y);
        phone.receive(ReportID::relativeMouse, {1, 0, 0, 0});
        phone.receive(ReportID::relativeMouse, {0, 0, 0, 0});
        shoot(step);
    };
    auto drag = [&](double fromY, double toY, const std::string& step) {
        point(200, fromY);
        phone.receive(ReportID::relativeMouse, {1, 0, 0, 0});
        for (int i = 1; i <= 10; ++i) point(200, fromY + (toY - fromY) * i / 10, 1);
        phone.receive(ReportID::relativeMouse, {0, 0, 0, 0});
        shoot(step);
    };
    auto type = [&](const std::string& character) {
        auto stroke = Keymap::stroke(character);
        phone.receive(ReportID::keyboard, keyboardReport(stroke->modifiers, stroke->code));
        phone.receive(ReportID::keyboard, keyboardReport(stroke->modifiers, 0));
        shoot("type " + character);
    };
    auto home = [&] {
        phone.receive(ReportID::consumer, consumerReport(kHomeUsage));
        phone.receive(ReportID::consumer, consumerReport(0));
        shoot("home");
    };
    constexpr double kBackX = 40, kBackY = 76, kFirstRowY = 174, kRowX = 100;

    shoot("home, no pointer");
    point(196, 600);
    shoot("pointer appears");
    tap(60, 109, "open Settings");
    drag(600, 500, "scroll Settings");
    drag(600, 430, "scroll Settings further");
    drag(300, 700, "scroll Settings back");
    tap(kRowX, kFirstRowY, "open General");
    tap(kRowX, kFirstRowY, "open About");
    tap(kBackX, kBackY, "back to General");
    tap(kBackX, kBackY, "back to Settings");
    home();
    tap(151, 109, "open Notes");
    for (const char* character : {"H", "e", "l", "l", "o", " ", "w"}) type(character);
    phone.receive(ReportID::keyboard, keyboardReport(0, 0x2A));
    phone.receive(ReportID::keyboard, keyboardReport(0, 0));
    shoot("delete");
    home();
    tap(242, 109, "open Contacts");
    drag(700, 400, "scroll Contacts");
    drag(700, 560, "scroll Contacts a little");
    point(300, 300);
    shoot("pointer moves over a name");
    return walk;
}

}  // namespace quintalis::testing
