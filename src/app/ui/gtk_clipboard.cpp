#include "app/ui/gtk_clipboard.h"

#include <gtkmm/clipboard.h>

namespace quintalis {

void GtkClipboard::copy(const std::string& text) {
    auto clipboard = Gtk::Clipboard::get();
    clipboard->set_text(text);
    clipboard->set_can_store();
}

void GtkClipboard::storeBeforeQuit() { Gtk::Clipboard::get()->store(); }

}  // namespace quintalis
