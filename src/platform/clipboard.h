#pragma once

#include <string>

namespace quintalis {

// The desktop's clipboard, which the user pastes from into a terminal or a
// settings file. The desktop app provides it; call it on the main thread.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Replaces the clipboard's contents with the plain text.
    virtual void copy(const std::string& text) = 0;
};

}  // namespace quintalis
