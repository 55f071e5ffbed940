#include "app/ui/tray_watch.h"

#include <xcb/xcb.h>

#include <cstring>
#include <string>

#include "base/log.h"

namespace quintalis {
namespace {

constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
// An older tray can start after the app: look again now and then while
// there is none.
constexpr guint kLegacyRecheckSeconds = 5;

}  // namespace

bool legacyTrayOnDisplay() {
    int screen = 0;
    xcb_connection_t* x = xcb_connect(nullptr, &screen);
    if (!x || xcb_connection_has_error(x)) {
        if (x) xcb_disconnect(x);
        return false;
    }
    std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
    bool owned = false;
    auto* atom = xcb_intern_atom_reply(x, xcb_intern_atom(x, 1, static_cast<uint16_t>(name.size()), name.c_str()),
                                       nullptr);
    if (atom && atom->atom != XCB_ATOM_NONE) {
        auto* owner = xcb_get_selection_owner_reply(x, xcb_get_selection_owner(x, atom->atom), nullptr);
        owned = owner && owner->owner != XCB_WINDOW_NONE;
        free(owner);
    }
    free(atom);
    xcb_disconnect(x);
    return owned;
}

TrayWatch::TrayWatch(std::function<void(bool)> changed) : changed_(std::move(changed)) {
    cancel_ = g_cancellable_new();
    nameWatch_ = g_bus_watch_name(G_BUS_TYPE_SESSION, kWatcher, G_BUS_NAME_WATCHER_FLAGS_NONE, &TrayWatch::appeared,
                                  &TrayWatch::vanished, this, nullptr);
    legacyCheck_ = g_timeout_add_seconds(
        kLegacyRecheckSeconds,
        [](gpointer self) {
            auto* watch = static_cast<TrayWatch*>(self);
            if (watch->shown_ == false) watch->settle();
            return gboolean(G_SOURCE_CONTINUE);
        },
        this);
}

TrayWatch::~TrayWatch() {
    g_cancellable_cancel(cancel_);
    g_object_unref(cancel_);
    if (legacyCheck_) g_source_remove(legacyCheck_);
    if (hostSignals_) g_dbus_connection_signal_unsubscribe(bus_, hostSignals_);
    if (nameWatch_) g_bus_unwatch_name(nameWatch_);
    if (bus_) g_object_unref(bus_);
}

void TrayWatch::appeared(GDBusConnection* bus, const gchar*, const gchar*, gpointer self) {
    auto* watch = static_cast<TrayWatch*>(self);
    watch->watcher_ = true;
    if (!watch->bus_) {
        watch->bus_ = G_DBUS_CONNECTION(g_object_ref(bus));
        // A host that registers or leaves later changes the answer.
        watch->hostSignals_ = g_dbus_connection_signal_subscribe(
            bus, nullptr, kWatcher, nullptr, kWatcherPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal, GVariant*,
               gpointer self) {
                if (std::strstr(signal, "Host")) static_cast<TrayWatch*>(self)->askHost();
            },
            watch, nullptr);
    }
    watch->askHost();
}

void TrayWatch::vanished(GDBusConnection*, const gchar*, gpointer self) {
    auto* watch = static_cast<TrayWatch*>(self);
    watch->watcher_ = false;
    watch->host_ = false;
    watch->settle();
}

void TrayWatch::askHost() {
    g_dbus_connection_call(
        bus_, kWatcher, kWatcherPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kWatcher, "IsStatusNotifierHostRegistered"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, 2000, cancel_,
        [](GObject* source, GAsyncResult* result, gpointer self) {
            GError* error = nullptr;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (!reply && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
                g_error_free(error);
                return;  // the watch is gone
            }
            auto* watch = static_cast<TrayWatch*>(self);
            bool host = false;
            if (reply) {
                GVariant* value = nullptr;
                g_variant_get(reply, "(v)", &value);
                host = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
                g_variant_unref(value);
                g_variant_unref(reply);
            } else {
                // A watcher that cannot say is taken at its word that it is there.
                host = watch->watcher_;
                g_error_free(error);
            }
            watch->host_ = host;
            watch->settle();
        },
        this);
}

void TrayWatch::settle() {
    if (!host_) return;
    bool shown = *host_ || legacyTrayOnDisplay();
    if (shown_ == shown) return;
    shown_ = shown;
    log(shown ? "status icon: the desktop has a tray for it"
              : "status icon: this desktop shows no tray icons; Pause and Quit are on the setup window's last page");
    if (changed_) changed_(shown);
}

}  // namespace quintalis
