#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include <gtkmm/checkmenuitem.h>
#include <gtkmm/menu.h>
#include <gtkmm/menuitem.h>
#include <gtkmm/separatormenuitem.h>

#include "app/model/app_state.h"

typedef struct _AppIndicator AppIndicator;

namespace quintalis {

// The status icon in the desktop's tray (a StatusNotifierItem, or the older
// tray where only that exists) and its menu, which follows the app's values.
// Thread rule: GTK's main thread only.
class StatusMenu {
public:
    struct Commands {
        std::function<void()> openSetup;
        std::function<void()> quit;
    };

    // `iconFolder` holds the icon named "quintalis-symbolic".
    StatusMenu(AppState& state, std::string version, const std::string& iconFolder, Commands commands);
    ~StatusMenu();
    StatusMenu(const StatusMenu&) = delete;
    StatusMenu& operator=(const StatusMenu&) = delete;

    Gtk::Menu& menu() { return menu_; }

private:
    void update();

    AppState& state_;
    std::string version_;
    Commands commands_;
    Gtk::Menu menu_;
    std::array<Gtk::MenuItem, 9> statusLines_;  // the most menuLines() gives
    Gtk::SeparatorMenuItem firstDivider_;
    Gtk::MenuItem openSetup_;
    Gtk::CheckMenuItem pause_;
    Gtk::CheckMenuItem openAtLogin_;
    Gtk::SeparatorMenuItem secondDivider_;
    Gtk::MenuItem versionLine_;
    Gtk::MenuItem quit_;
    bool updating_ = false;
    uint64_t observer_ = 0;
    AppIndicator* indicator_ = nullptr;
};

}  // namespace quintalis
