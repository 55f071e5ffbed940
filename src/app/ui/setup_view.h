#pragma once

#include <filesystem>
#include <functional>

#include <gtkmm/box.h>
#include <gtkmm/scrolledwindow.h>

#include "app/model/app_state.h"
#include "app/model/setup_pages.h"
#include "app/ui/page_widgets.h"

namespace quintalis {

// The content of the setup window: the rail, the page at AppState's step
// and the bottom bar, rebuilt whenever the app's values or the window's own
// context change. Moving between pages and the choices of a page go straight
// to AppState; every other click goes to `actions`, which may change
// context() and call changed().
//
// Thread rule: GTK's main thread only, like AppState.
class SetupView : public Gtk::Box {
public:
    SetupView(AppState& state, SetupContext context, ActionHandler actions, std::function<void()> finished);
    ~SetupView() override;

    SetupContext& context() { return context_; }
    // The picture the phone illustrations show.
    void setPhonePicture(Cairo::RefPtr<Cairo::ImageSurface> picture);

    // Rebuilds once the current event has been handled: a click's own
    // button must outlive its handler.
    void changed();
    void rebuildNow();
    // Draws what the view shows into a PNG file of its size.
    bool writePNG(const std::filesystem::path& file);

private:
    void handle(SetupAction action);
    Gtk::Widget* rail(const AppValues& values);
    Gtk::Widget* bottomBar(const AppValues& values);

    AppState& state_;
    SetupContext context_;
    ActionHandler actions_;
    std::function<void()> finished_;
    Cairo::RefPtr<Cairo::ImageSurface> phone_;
    uint64_t observer_ = 0;
    bool pending_ = false;
    sigc::connection idle_;
};

}  // namespace quintalis
