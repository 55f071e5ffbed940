#include "platform/linux/desktop_entry.h"

#include <sstream>

#include "base/text.h"

namespace quintalis {
namespace {

constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

}  // namespace

std::string desktopExecWord(std::string_view word) {
    std::string quoted;
    bool quote = word.empty() || word.find_first_of(kReserved) != std::string_view::npos;
    if (quote) quoted += '"';
    for (char c : word) {
        if (quote && kEscapedInQuotes.find(c) != std::string_view::npos) quoted += '\\';
        quoted += c;
    }
    if (quote) quoted += '"';
    // The file's string escapes apply first when it is read, so they are
    // added last; "%" would start a field code.
    std::string value;
    for (char c : quoted) {
        switch (c) {
            case '\\': value += "\\\\"; break;
            case '\n': value += "\\n"; break;
            case '\t': value += "\\t"; break;
            case '\r': value += "\\r"; break;
            case '%': value += "%%"; break;
            default: value += c;
        }
    }
    return value;
}

std::string quintalisDesktopEntry(const std::filesystem::path& program, const std::optional<std::filesystem::path>& icon) {
    std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Quintalis\n"
        "Comment=Let your AI use your iPhone\n"
        "Exec=" + desktopExecWord(program.string()) + "\n";
    // Icon is a plain string value: only the string escapes apply.
    if (icon) {
        std::string path;
        for (char c : icon->string()) path += c == '\\' ? std::string("\\\\") : std::string(1, c);
        text += "Icon=" + path + "\n";
    }
    text += "Terminal=false\nCategories=Utility;\n";
    return text;
}

std::optional<std::string> desktopEntryValue(std::string_view text, std::string_view key) {
    std::istringstream lines{std::string(text)};
    std::string line;
    bool inEntry = false;
    std::optional<std::string> value;
    while (std::getline(lines, line)) {
        std::string trimmed = trimWhiteSpace(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        if (trimmed[0] == '[') {
            inEntry = trimmed == "[Desktop Entry]";
            continue;
        }
        auto equals = trimmed.find('=');
        if (!inEntry || equals == std::string::npos) continue;
        if (trimWhiteSpace(std::string_view(trimmed).substr(0, equals)) == key) {
            value = trimWhiteSpace(std::string_view(trimmed).substr(equals + 1));
        }
    }
    return value;
}

}  // namespace quintalis
