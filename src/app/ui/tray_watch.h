#pragma once

#include <functional>
#include <optional>

#include <gio/gio.h>

namespace quintalis {

// Whether this desktop has somewhere to show the status icon: a
// StatusNotifier host (through the org.kde.StatusNotifierWatcher name on
// the session bus), or an older system tray on the X screen. Stock GNOME
// has neither, and there an icon would be invisible, with the menu that
// pauses and quits behind it.
//
// Thread rule: GTK's main thread only; `changed` is called there, first
// once the answer is known and then whenever it changes.
class TrayWatch {
public:
    explicit TrayWatch(std::function<void(bool shown)> changed);
    ~TrayWatch();
    TrayWatch(const TrayWatch&) = delete;
    TrayWatch& operator=(const TrayWatch&) = delete;

    // Unknown until the bus has answered.
    std::optional<bool> shown() const { return shown_; }

private:
    static void appeared(GDBusConnection* bus, const gchar* name, const gchar* owner, gpointer self);
    static void vanished(GDBusConnection* bus, const gchar* name, gpointer self);
    void askHost();
    void settle();

    std::function<void(bool)> changed_;
    std::optional<bool> shown_;
    bool watcher_ = false;  // the watcher's name has an owner
    std::optional<bool> host_;
    GDBusConnection* bus_ = nullptr;
    GCancellable* cancel_ = nullptr;
    guint nameWatch_ = 0;
    guint hostSignals_ = 0;
    guint legacyCheck_ = 0;
};

// Whether an X screen's older system tray is there (the owner of
// _NET_SYSTEM_TRAY_S<screen>); false without an X display.
bool legacyTrayOnDisplay();

}  // namespace quintalis
