#include "app/ui/setup_window.h"

#include <cstdio>

#include <gdkmm/display.h>
#include <gdkmm/monitor.h>
#include <gtkmm/settings.h>

#include "base/log.h"

namespace quintalis {
namespace {

// Time for the window to be mapped and drawn once, and for a page to be
// rebuilt after a step change. Both are idle-time work in GTK, so short
// waits do.
constexpr auto kMapWait = std::chrono::milliseconds(500);
constexpr auto kPageWait = std::chrono::milliseconds(200);

}  // namespace

SetupWindow::SetupWindow(AppState& state, SetupContext context, ActionHandler actions)
    : state_(state), view_(state, std::move(context), std::move(actions), [this] { hide(); }) {
    // The pages' colours are drawn for a light window, whatever the desktop prefers.
    Gtk::Settings::get_default()->property_gtk_application_prefer_dark_theme() = false;
    set_title("Quintalis");
    // Scaled screens can be smaller than the pages: the window starts within
    // the work area and may be resized down to the least size.
    Gdk::Rectangle area(0, 0, kSetupWidth, kSetupHeight);
    auto display = Gdk::Display::get_default();
    if (auto monitor = display ? display->get_primary_monitor() : Glib::RefPtr<Gdk::Monitor>()) {
        monitor->get_workarea(area);
    } else if (display && display->get_n_monitors() > 0) {
        display->get_monitor(0)->get_workarea(area);
    }
    WindowSize size = setupWindowSize(area.get_width(), area.get_height());
    set_default_size(size.width, size.height);
    set_resizable(true);
    set_position(Gtk::WIN_POS_CENTER);
    add(view_);
    view_.show();
    signal_delete_event().connect([this](GdkEventAny*) {
        hide();
        return true;
    });
}

void SetupWindow::present() {
    show();
    Gtk::Window::present();
}

void SetupWindow::snapshotSteps(const std::filesystem::path& dir, MainThread& mainThread,
                                std::function<void(bool)> done) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        log("snapshot: could not make " + dir.string() + ": " + error.message());
        if (done) done(false);
        return;
    }
    int previous = state_.values().step;
    present();
    mainThread.postAfter(kMapWait, [this, previous, dir, &mainThread, done] {
        int x = 0, y = 0;
        get_position(x, y);
        log("snapshot: window " + std::to_string(x) + "," + std::to_string(y) + " " +
            std::to_string(get_width()) + "x" + std::to_string(get_height()) + ", content " +
            std::to_string(view_.get_allocated_width()) + "x" + std::to_string(view_.get_allocated_height()));
        snapshotStep(0, previous, dir, mainThread, done);
    });
}

void SetupWindow::snapshotStep(int step, int previous, std::filesystem::path dir, MainThread& mainThread,
                               std::function<void(bool)> done) {
    state_.setStep(step);
    mainThread.postAfter(kPageWait, [this, step, previous, dir, &mainThread, done] {
        // The page was rebuilt when the step changed; lay it out before drawing.
        check_resize();
        char name[32];
        std::snprintf(name, sizeof name, "live-%02d.png", step);
        if (!view_.writePNG(dir / name)) {
            log("snapshot: could not write " + (dir / name).string());
            state_.setStep(previous);
            if (done) done(false);
            return;
        }
        if (step < kSetupSteps) {
            snapshotStep(step + 1, previous, dir, mainThread, done);
            return;
        }
        state_.setStep(previous);
        log("snapshots saved to " + dir.string());
        if (done) done(true);
    });
}

}  // namespace quintalis
