#pragma once

#include <functional>

#include <cairomm/surface.h>
#include <gtkmm/widget.h>

#include "app/model/setup_pages.h"
#include "imaging/pixel_buffer.h"

namespace quintalis {

using ActionHandler = std::function<void(SetupAction)>;

// The widgets of one page, managed (owned by whatever they are added to).
// `phone` is the picture the phone illustrations show, when there is one.
Gtk::Widget* buildPageWidget(const SetupPage& page, const ActionHandler& onAction,
                             const Cairo::RefPtr<Cairo::ImageSurface>& phone);

// A copy of the picture that cairo can draw.
Cairo::RefPtr<Cairo::ImageSurface> surfaceFrom(const PixelBuffer& picture);

// The look of the setup window, installed once for the whole screen.
void installSetupStyle();

}  // namespace quintalis
