#pragma once

#include <filesystem>

#include <gtkmm/window.h>

#include "base/main_thread.h"
#include "app/ui/setup_view.h"

namespace quintalis {

// The app's one window, made on first use and kept for the life of the
// process: closing only hides it, so the wizard reopens where it was.
// Thread rule: GTK's main thread only.
class SetupWindow : public Gtk::Window {
public:
    SetupWindow(AppState& state, SetupContext context, ActionHandler actions);

    SetupView& view() { return view_; }
    // Shows the window and brings it to the front.
    void present();

    // Shows every page of the live window in turn and writes each as
    // live-00.png … live-06.png into `dir`, then returns to the page the
    // user was on. Runs on the main loop; `done` is called at the end
    // (false when the folder could not be made or a file not written).
    void snapshotSteps(const std::filesystem::path& dir, MainThread& mainThread, std::function<void(bool)> done = {});

private:
    void snapshotStep(int step, int previous, std::filesystem::path dir, MainThread& mainThread,
                      std::function<void(bool)> done);

    AppState& state_;
    SetupView view_;
};

}  // namespace quintalis
