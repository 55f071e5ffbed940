#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quintalis {

// Desktop entry files (freedesktop.org): how the desktop lists a program
// and starts it, also at login.

// One word of an Exec line: in double quotes when it holds a character the
// launcher would split or expand, with the escapes that the quoting, the
// field codes ("%") and the string value each ask for.
std::string desktopExecWord(std::string_view word);

// The entry of Quintalis starting `program`, with an icon file when given.
std::string quintalisDesktopEntry(const std::filesystem::path& program, const std::optional<std::filesystem::path>& icon);

// The value of a key in the file's "[Desktop Entry]" group, unescaped no
// further than trimming; nothing when absent.
std::optional<std::string> desktopEntryValue(std::string_view text, std::string_view key);

}  // namespace quintalis
