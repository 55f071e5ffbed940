#include "app/ui/status_menu.h"

#include <cstring>

#include <libayatana-appindicator/app-indicator.h>

#include "app/model/setup_pages.h"
#include "base/log.h"

namespace quintalis {
namespace {

// In an older (XEMBED) tray, GTK's own status icon window trips an assertion
// inside GDK when the tray embeds it, a fault of GTK 3 that changes nothing:
// the icon and its menu work. It is said once in the log, in words, instead
// of as a "Gdk-CRITICAL" at every launch; every other message goes on as
// before.
void quietenTrayEmbedding() {
    g_log_set_handler(
        "Gdk", GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
        [](const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
            if (message && std::strstr(message, "gdk_window_thaw_toplevel_updates")) {
                static bool said = false;
                if (!said) log("status icon: GTK reported a harmless fault while the older tray embedded the icon");
                said = true;
                return;
            }
            g_log_default_handler(domain, level, message, nullptr);
        },
        nullptr);
}

}  // namespace
StatusMenu::StatusMenu(AppState& state, std::string version, const std::string& iconFolder, Commands commands)
    : state_(state),
      version_(std::move(version)),
      commands_(std::move(commands)),
      openSetup_("Open Setup\u2026"),
      pause_("Pause control"),
      openAtLogin_("Open at login"),
      quit_("Quit Quintalis") {
    for (auto& line : statusLines_) {
        line.set_sensitive(false);
        menu_.append(line);
    }
    menu_.append(firstDivider_);
    menu_.append(openSetup_);
    menu_.append(pause_);
    menu_.append(openAtLogin_);
    menu_.append(secondDivider_);
    versionLine_.set_sensitive(false);
    menu_.append(versionLine_);
    menu_.append(quit_);
    // No shortcuts are shown: a tray's menu is not a window's, and no key
    // pressed while it is open or shut reaches these items.
    menu_.show_all();

    openSetup_.signal_activate().connect([this] { commands_.openSetup(); });
    quit_.signal_activate().connect([this] { commands_.quit(); });
    pause_.signal_toggled().connect([this] {
        if (!updating_) state_.setPaused(pause_.get_active());
    });
    openAtLogin_.signal_toggled().connect([this] {
        if (!updating_) state_.setLaunchAtLogin(openAtLogin_.get_active());
    });

    // Where the tray falls back to GTK's own status icon, the indicator looks
    // for its folder in GTK's icon search path, reading one entry past the
    // end when the folder is missing; it is there already.
    gtk_icon_theme_append_search_path(gtk_icon_theme_get_default(), iconFolder.c_str());
    quietenTrayEmbedding();
    indicator_ = app_indicator_new("quintalis", "quintalis-symbolic", APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
    app_indicator_set_icon_theme_path(indicator_, iconFolder.c_str());
    app_indicator_set_title(indicator_, "Quintalis");
    app_indicator_set_menu(indicator_, menu_.gobj());
    app_indicator_set_status(indicator_, APP_INDICATOR_STATUS_ACTIVE);

    observer_ = state_.addObserver([this] { update(); });
    update();
}

StatusMenu::~StatusMenu() {
    state_.removeObserver(observer_);
    g_object_unref(indicator_);
}

void StatusMenu::update() {
    const AppValues& values = state_.values();
    MenuLines lines = menuLines(values, version_);
    for (size_t i = 0; i < statusLines_.size(); ++i) {
        if (i < lines.status.size()) {
            statusLines_[i].set_label(lines.status[i]);
            statusLines_[i].show();
        } else {
            statusLines_[i].hide();
        }
    }
    versionLine_.set_label(lines.version);
    // Setting a toggle to what the app says must not count as the user's click.
    updating_ = true;
    if (pause_.get_active() != values.paused) pause_.set_active(values.paused);
    if (openAtLogin_.get_active() != values.launchAtLogin) openAtLogin_.set_active(values.launchAtLogin);
    updating_ = false;
}

}  // namespace quintalis
