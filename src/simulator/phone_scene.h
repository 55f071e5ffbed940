#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quintalis::simulator {

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool contains(double px, double py) const { return px >= x && px < x + width && py >= y && py < y + height; }
};

// What the phone shows, apart from the pointer. Owned by the simulator's queue.
struct PhoneUI {
    std::string app = "Home";              // "Home", "Settings", "Notes", "Contacts" or another app's name
    std::vector<std::string> settingsPath;  // pages pushed below Settings ("General", "About")
    std::string notesText;
    bool notesFocused = false;
    std::map<std::string, double> scroll;  // points scrolled, per scrolling page
};

// One thing drawn on the screen, in points from the top-left. A widget with
// an action reacts to a tap.
struct Widget {
    enum class Kind { icon, dockIcon, title, row, line, back, textArea, note };
    Kind kind;
    Rect frame;
    std::string label;
    std::string detail;
    std::string action;  // "open:<app>", "push:<page>", "back", "focus", or empty
    uint32_t color = 0;  // icons: 0xRRGGBB
};

struct Scene {
    std::vector<Widget> widgets;
    uint32_t background = 0xFFFFFF;
    std::string scrollKey;  // the page that scrolls, when it does
    double contentHeight = 0;
    double viewHeight = 0;
};

// The names of the apps on the home screen, then the dock's.
const std::vector<std::string>& homeApps();
const std::vector<std::string>& dockApps();

// The widgets of the current page for a screen of width × height points.
Scene buildScene(const PhoneUI& ui, double width, double height, const std::string& phoneName,
                 const std::string& modelName);

// Where a home screen icon's name is written, below the icon.
Rect labelFrame(const Widget& icon);

// The top-most widget with an action at the point, if any. A home screen
// app opens from its name as well as from its icon, as on a real phone.
const Widget* hit(const Scene& scene, double x, double y);

// The names in the Contacts list, long enough to scroll.
const std::vector<std::string>& contactNames();

}  // namespace quintalis::simulator
