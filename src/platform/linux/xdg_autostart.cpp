#include "platform/linux/xdg_autostart.h"

#include "base/atomic_file.h"
#include "base/read_file.h"
#include "platform/linux/desktop_entry.h"

namespace quintalis {

XdgAutostart::XdgAutostart(std::filesystem::path entry, std::function<std::filesystem::path()> program)
    : entry_(std::move(entry)), program_(std::move(program)) {}

bool XdgAutostart::isEnabled() {
    auto text = readFile(entry_);
    return text && desktopEntryValue(*text, "Hidden") != "true";
}

Outcome XdgAutostart::setEnabled(bool enabled) {
    std::error_code error;
    if (!enabled) {
        std::filesystem::remove(entry_, error);
        return error ? Outcome::failure(error.message()) : Outcome::success();
    }
    std::filesystem::create_directories(entry_.parent_path(), error);
    if (error) return Outcome::failure(error.message());
    if (!writeFileAtomically(entry_, quintalisDesktopEntry(program_(), std::nullopt), error)) {
        return Outcome::failure(error.message());
    }
    return Outcome::success();
}

}  // namespace quintalis
