#include "app/desktop_app.h"

#include <glib-unix.h>

#include <chrono>
#include <iostream>
#include <memory>

#include <gtkmm/application.h>

#include "app/model/ai_connect.h"
#include "app/model/installer.h"
#include "app/services.h"
#include "app/model/receiver_keeper.h"
#include "app/ui/glib_main_loop.h"
#include "app/ui/gtk_clipboard.h"
#include "app/render_steps.h"
#include "app/setup_actions.h"
#include "app/ui/setup_window.h"
#include "app/ui/status_menu.h"
#include "app/ui/tray_watch.h"
#include "base/log.h"
#include "engine/app_info.h"
#include "engine/engine.h"
#include "platform/linux/user_installation.h"
#include "simulator/simulator.h"

namespace quintalis {
namespace {

// What the setup window shows about this computer and this copy of the program.
SetupContext liveContext(Services& services) {
    SetupContext context;
    context.computerName = services.platform().host.computerName().value_or("this computer");
    context.version = services.appInfo().version();
    context.installed = services.installer().isInApplications();
    context.codexSnippet = services.aiConnect().codexSnippet();
    return context;
}

std::filesystem::path iconFolder(const HostEnvironment& host) {
    UserInstallation installation(UserInstallation::thisProgram(), host.homeDirectory(),
                                  host.applicationSupportDirectory());
    return installation.dataFiles() / "icons";
}

class DesktopApp {
public:
    DesktopApp(Services& services, std::chrono::steady_clock::time_point began)
        : services_(services), app_(Gtk::Application::create("org.quintalis.Quintalis")), began_(began) {
        app_->signal_startup().connect([this] { startup(); });
        app_->signal_activate().connect([this] { activate(); });
        for (int signal : {SIGINT, SIGTERM}) {
            g_unix_signal_add(
                signal,
                [](gpointer self) {
                    log("quitting on a signal");
                    static_cast<DesktopApp*>(self)->quit();
                    return gboolean(G_SOURCE_CONTINUE);
                },
                this);
        }
    }

    int run() {
        int status = app_->run();
        if (window_) GtkClipboard::storeBeforeQuit();
        return status;
    }
    void quit() { app_->quit(); }

private:
    // Only in the first copy; a second launch only activates it.
    void startup() {
        app_->hold();
        auto& state = services_.appState();
        const std::string version = services_.appInfo().version();
        log("Quintalis " + version + " starting");
        menu_ = std::make_unique<StatusMenu>(state, version, iconFolder(services_.platform().host).string(),
                                             StatusMenu::Commands{[this] { showSetup(); }, [this] { quit(); }});
        tray_ = std::make_unique<TrayWatch>([this](bool shown) {
            if (!window_) return;
            window_->view().context().statusIconShown = shown;
            window_->view().changed();
        });
        services_.engine().start();
        auto& host = services_.platform().host;
        state.startPolling();
        if (!state.values().setupDone || host.variable("QUINTALIS_SHOW_SETUP") == "1") showSetup();
        if (auto dir = host.variable("QUINTALIS_SNAPSHOT_DIR"); dir && !dir->empty()) {
            setupWindow().snapshotSteps(*dir, services_.desktop().mainThread);
        }
    }

    // The first activation is the launch itself, handled by startup; every
    // later one is the user launching the program again.
    void activate() {
        if (!launched_) {
            launched_ = true;
            return;
        }
        log("launched again: opening the setup window");
        showSetup();
    }

    SetupWindow& setupWindow() {
        if (window_) return *window_;
        auto& state = services_.appState();
        actions_ = std::make_unique<SetupActions>(
            services_, clipboard_,
            [this]() -> SetupContext& { return window_->view().context(); }, [this] { window_->view().changed(); });
        SetupContext context = liveContext(services_);
        context.statusIconShown = tray_->shown().value_or(true);
        window_ = std::make_unique<SetupWindow>(state, context, [this](SetupAction a) {
            // Without a tray, the window's Quit is the menu's.
            if (a == SetupAction::quit) {
                quit();
                return;
            }
            (*actions_)(a);
        });
        app_->add_window(*window_);
        window_->signal_key_press_event().connect([this](GdkEventKey* key) {
            if ((key->state & GDK_CONTROL_MASK) && (key->keyval == GDK_KEY_q || key->keyval == GDK_KEY_Q)) quit();
            return false;
        });
        window_->signal_map_event().connect([this](GdkEventAny*) {
            if (!shownOnce_) {
                shownOnce_ = true;
                auto since = std::chrono::steady_clock::now() - began_;
                log("setup window visible after " +
                    std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(since).count()) + " ms");
            }
            return false;
        });
        return *window_;
    }

    void showSetup() {
        setupWindow().present();
        log("setup window shown");
    }

    Services& services_;
    Glib::RefPtr<Gtk::Application> app_;
    std::chrono::steady_clock::time_point began_;
    GtkClipboard clipboard_;
    std::unique_ptr<StatusMenu> menu_;
    std::unique_ptr<TrayWatch> tray_;
    std::unique_ptr<SetupActions> actions_;
    std::unique_ptr<SetupWindow> window_;
    bool launched_ = false;
    bool shownOnce_ = false;
};

DesktopApp* running = nullptr;

}  // namespace

int runDesktopApp(Services& services) {
    auto began = std::chrono::steady_clock::now();
    // The main thread's work (the engine's timers, the model's replies) runs
    // inside the GTK loop.
    drainFromGLib(services.mainLoop());
    // Lives until the process ends, like the other process-wide objects.
    running = new DesktopApp(services, began);
    return running->run();
}

bool quitDesktopApp() {
    if (!running) return false;
    running->quit();
    return true;
}

}  // namespace quintalis
