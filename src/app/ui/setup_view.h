#pragma once

#include <filesystem>
#include <functional>
#include <optional>

#include <gtkmm/box.h>
#include <gtkmm/scrolledwindow.h>

#include "app/model/app_state.h"
#include "app/model/setup_pages.h"
#include "app/ui/page_widgets.h"

namespace quintalis {

// The content of the setup window: the rail, the page at AppState's step
// and the bottom bar. A change of the app's values or of the window's own
// context updates only the parts it touched, so a poll leaves the user's
// focus, selection and scroll position where they were; a new step starts
// at the top of its page. Return presses the page's one primary button, or
// the bar's forward button when the page has none. Moving between pages and the choices of a page go straight
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

    // Updates once the current event has been handled: a click's own
    // button must outlive its handler.
    void changed();
    void rebuildNow();
    // The page's widgets; for tests.
    Gtk::ScrolledWindow& scroller() { return *scroller_; }
    // Draws what the view shows into a PNG file of its size.
    bool writePNG(const std::filesystem::path& file);

private:
    void handle(SetupAction action);
    void updateRail(const AppValues& values);
    void updateBar(const BottomBar& model);
    Gtk::Widget* railEntries(const Rail& model);
    Gtk::Widget* bottomBar(const BottomBar& model);
    // `focus`: the page is new, and its default button takes the focus.
    void pickDefault(bool focus);

    AppState& state_;
    SetupContext context_;
    ActionHandler actions_;
    std::function<void()> finished_;
    Cairo::RefPtr<Cairo::ImageSurface> phone_;
    Gtk::Box* railColumn_ = nullptr;
    Gtk::Widget* railEntries_ = nullptr;
    Gtk::Widget* railStatus_ = nullptr;
    std::optional<Rail> railShown_;
    Gtk::Box* main_ = nullptr;
    Gtk::ScrolledWindow* scroller_ = nullptr;
    LivePage* page_ = nullptr;
    int stepShown_ = -1;
    Gtk::Widget* bar_ = nullptr;
    Gtk::Button* forward_ = nullptr;
    std::optional<BottomBar> barShown_;
    uint64_t observer_ = 0;
    bool pending_ = false;
    sigc::connection idle_;
};

}  // namespace quintalis
