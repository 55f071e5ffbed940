#pragma once

#include <functional>

#include <cairomm/surface.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/widget.h>

#include "app/model/setup_pages.h"
#include "imaging/pixel_buffer.h"

namespace quintalis {

using ActionHandler = std::function<void(SetupAction)>;

// The widgets of one page, managed (owned by whatever they are added to).
// `phone` is the picture the phone illustrations show, when there is one.
Gtk::Widget* buildPageWidget(const SetupPage& page, const ActionHandler& onAction,
                             const Cairo::RefPtr<Cairo::ImageSurface>& phone);

// One page's widgets, kept while the page is shown. A new model of the
// same page replaces only the blocks that changed: a poll that changes one
// check row leaves the rest, and the user's focus, text selection and the
// scroll position with them. Focus inside a replaced block moves to the
// widget at the same place in its successor.
// Thread rule: GTK's main thread only.
class LivePage : public Gtk::Box {
public:
    explicit LivePage(ActionHandler onAction);

    void update(const SetupPage& page, const Cairo::RefPtr<Cairo::ImageSurface>& phone);
    // The page's own primary button, if it has one.
    Gtk::Button* primaryButton();

private:
    Gtk::Widget* build(const PageBlock& block) const;

    ActionHandler onAction_;
    Cairo::RefPtr<Cairo::ImageSurface> phone_;
    SetupPage shown_;
    Gtk::Widget* heading_ = nullptr;
    std::vector<Gtk::Widget*> blocks_;  // one per block of shown_
};

// Puts `made` in `old`'s place in `parent` (at the end when there is no
// `old`) and deletes `old`; keyboard focus inside `old` goes to the widget at
// the same place in `made`, when that can take it.
void replaceKeepingFocus(Gtk::Box& parent, Gtk::Widget* old, Gtk::Widget& made, int position,
                         Gtk::PackOptions options = Gtk::PACK_SHRINK);

// A copy of the picture that cairo can draw.
Cairo::RefPtr<Cairo::ImageSurface> surfaceFrom(const PixelBuffer& picture);

// The look of the setup window, installed once for the whole screen.
void installSetupStyle();

}  // namespace quintalis
