#pragma once

#include "platform/clipboard.h"

namespace quintalis {

// The desktop's CLIPBOARD selection through GTK. The text is offered to a
// clipboard manager too, so it stays pasteable after the app has quit.
// Main thread only.
class GtkClipboard final : public Clipboard {
public:
    void copy(const std::string& text) override;
    // Hands what this app still owns to the clipboard manager, if one runs.
    static void storeBeforeQuit();
};

}  // namespace quintalis
