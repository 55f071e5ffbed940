#include "simulator/phone_scene.h"

#include <algorithm>

namespace quintalis::simulator {
namespace {

constexpr double kStatusBar = 54;
constexpr double kRowHeight = 48;
constexpr double kIcon = 62;

uint32_t iconColor(const std::string& name) {
    static const std::map<std::string, uint32_t> colors{
        {"Settings", 0x8E8E93}, {"Notes", 0xF7C744}, {"Contacts", 0x9C8C7C}, {"Photos", 0xE94B8A},
        {"Camera", 0x3A3A3C},   {"Mail", 0x2F7CF6},  {"Clock", 0x1C1C1E},    {"Maps", 0x4CAF50},
        {"Weather", 0x3D8BFD},  {"Calendar", 0xFF3B30}, {"Music", 0xFC3C44}, {"Files", 0x2E86DE},
        {"Phone", 0x34C759},    {"Safari", 0x0A84FF}, {"Messages", 0x30D158}, {"Books", 0xFF9500},
    };
    auto found = colors.find(name);
    return found == colors.end() ? 0x5856D6 : found->second;
}

void addTitle(Scene& scene, double width, const std::string& title, bool back, const std::string& backLabel) {
    if (back) scene.widgets.push_back({Widget::Kind::back, {0, kStatusBar, 130, 44}, "< " + backLabel, "", "back"});
    scene.widgets.push_back({Widget::Kind::title, {16, kStatusBar + 40, width - 32, 44}, title, "", ""});
}

void addRows(Scene& scene, double width, double height, double top, const std::vector<std::pair<std::string, std::string>>& rows,
             const std::string& actionPrefix, const std::string& scrollKey, double scrolled) {
    scene.scrollKey = scrollKey;
    scene.viewHeight = height - top;
    scene.contentHeight = rows.size() * kRowHeight;
    for (size_t i = 0; i < rows.size(); ++i) {
        double y = top + i * kRowHeight - scrolled;
        if (y + kRowHeight < top || y > height) continue;
        // A row half scrolled under the title is drawn, but only its visible part takes taps.
        std::string action = actionPrefix.empty() || y < top ? "" : actionPrefix + rows[i].first;
        scene.widgets.push_back({Widget::Kind::row, {0, y, width, kRowHeight}, rows[i].first, rows[i].second, action});
    }
}

void homeScene(Scene& scene, double width, double height) {
    scene.background = 0x1E3A5F;
    const int columns = 4;
    double gap = (width - columns * kIcon) / (columns + 1);
    const auto& apps = homeApps();
    for (size_t i = 0; i < apps.size(); ++i) {
        double x = gap + (i % columns) * (kIcon + gap);
        double y = kStatusBar + 24 + (i / columns) * (kIcon + 38);
        scene.widgets.push_back({Widget::Kind::icon, {x, y, kIcon, kIcon}, apps[i], "", "open:" + apps[i], iconColor(apps[i])});
    }
    const auto& dock = dockApps();
    double dockY = height - 34 - kIcon - 14;
    for (size_t i = 0; i < dock.size(); ++i) {
        double x = gap + i * (kIcon + gap);
        scene.widgets.push_back(
            {Widget::Kind::dockIcon, {x, dockY, kIcon, kIcon}, dock[i], "", "open:" + dock[i], iconColor(dock[i])});
    }
}

void settingsScene(Scene& scene, const PhoneUI& ui, double width, double height, const std::string& phoneName,
                   const std::string& modelName) {
    scene.background = 0xF2F2F7;
    const double top = kStatusBar + 96;
    auto scrolled = [&](const std::string& key) {
        auto found = ui.scroll.find(key);
        return found == ui.scroll.end() ? 0.0 : found->second;
    };
    if (ui.settingsPath.empty()) {
        addTitle(scene, width, "Settings", false, "");
        addRows(scene, width, height, top,
                {{"General", ""}, {"Accessibility", ""}, {"Bluetooth", "On"}, {"Wi-Fi", "Home"},
                 {"Display & Brightness", ""}, {"Privacy & Security", ""}, {"Notifications", ""}, {"Sounds & Haptics", ""},
                 {"Focus", ""}, {"Screen Time", ""}, {"Battery", ""}, {"Wallpaper", ""}, {"Siri", ""},
                 {"Camera", ""}, {"Home Screen", ""}},
                "push:", "Settings", scrolled("Settings"));
        return;
    }
    const std::string& page = ui.settingsPath.back();
    std::string parent = ui.settingsPath.size() == 1 ? "Settings" : ui.settingsPath[ui.settingsPath.size() - 2];
    addTitle(scene, width, page, true, parent);
    if (page == "General") {
        addRows(scene, width, height, top,
                {{"About", ""}, {"Software Update", ""}, {"AirDrop", ""}, {"Keyboard", ""}, {"Language & Region", ""},
                 {"Date & Time", ""}, {"Storage", ""}, {"Reset", ""}},
                "push:", "General", scrolled("General"));
    } else if (page == "About") {
        addRows(scene, width, height, top,
                {{"Name", phoneName}, {"iOS Version", "18.1"}, {"Model Name", modelName}, {"Capacity", "256 GB"},
                 {"Serial Number", "SIMULATED01"}},
                "", "About", 0);
    } else {
        addRows(scene, width, height, top, {{"Nothing to change here", ""}}, "", page, 0);
    }
}

}  // namespace

const std::vector<std::string>& homeApps() {
    static const std::vector<std::string> apps{"Settings", "Notes",   "Contacts", "Photos", "Camera", "Mail",
                                               "Clock",    "Maps",    "Weather",  "Calendar", "Music", "Files"};
    return apps;
}

const std::vector<std::string>& dockApps() {
    static const std::vector<std::string> apps{"Phone", "Safari", "Messages", "Books"};
    return apps;
}

const std::vector<std::string>& contactNames() {
    static const std::vector<std::string> names = [] {
        const char* first[] = {"Ada", "Alan", "Barbara", "Claude", "Dennis", "Edsger", "Frances", "Grace", "Hedy",
                               "Ivan", "John", "Ken", "Linus", "Margaret", "Niklaus", "Radia", "Tim", "Vint"};
        const char* last[] = {"Lovelace", "Turing", "Liskov", "Shannon", "Ritchie", "Dijkstra", "Allen", "Hopper",
                              "Lamarr", "Sutherland", "Backus", "Thompson", "Torvalds", "Hamilton", "Wirth",
                              "Perlman", "Berners-Lee", "Cerf"};
        std::vector<std::string> all;
        for (size_t round = 0; round < 3; ++round) {
            for (size_t i = 0; i < std::size(first); ++i) {
                all.push_back(std::string(first[i]) + " " + last[(i + round * 5) % std::size(last)]);
            }
        }
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end()), all.end());
        return all;
    }();
    return names;
}

Scene buildScene(const PhoneUI& ui, double width, double height, const std::string& phoneName,
                 const std::string& modelName) {
    Scene scene;
    if (ui.app == "Home") {
        homeScene(scene, width, height);
    } else if (ui.app == "Settings") {
        settingsScene(scene, ui, width, height, phoneName, modelName);
    } else if (ui.app == "Notes") {
        scene.background = 0xFFFDF5;
        addTitle(scene, width, "Notes", false, "");
        scene.widgets.push_back({Widget::Kind::textArea, {16, kStatusBar + 96, width - 32, height - kStatusBar - 150},
                                 ui.notesText, ui.notesFocused ? "focused" : "", "focus"});
    } else if (ui.app == "Contacts") {
        scene.background = 0xFFFFFF;
        addTitle(scene, width, "Contacts", false, "");
        std::vector<std::pair<std::string, std::string>> rows;
        for (const auto& name : contactNames()) rows.emplace_back(name, "");
        auto found = ui.scroll.find("Contacts");
        addRows(scene, width, height, kStatusBar + 96, rows, "", "Contacts", found == ui.scroll.end() ? 0 : found->second);
    } else {
        scene.background = 0xFFFFFF;
        addTitle(scene, width, ui.app, false, "");
        scene.widgets.push_back({Widget::Kind::note, {16, kStatusBar + 120, width - 32, 40}, "Nothing here yet", "", ""});
    }
    return scene;
}

Rect labelFrame(const Widget& icon) {
    return {icon.frame.x - 14, icon.frame.y + icon.frame.height + 5, icon.frame.width + 28, 17};
}

const Widget* hit(const Scene& scene, double x, double y) {
    for (auto it = scene.widgets.rbegin(); it != scene.widgets.rend(); ++it) {
        if (it->action.empty()) continue;
        if (it->frame.contains(x, y)) return &*it;
        if (it->kind == Widget::Kind::icon && labelFrame(*it).contains(x, y)) return &*it;
    }
    return nullptr;
}

}  // namespace quintalis::simulator
