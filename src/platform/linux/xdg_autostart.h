#pragma once

#include <filesystem>
#include <functional>

#include "platform/launch_at_login.h"

namespace quintalis {

// Launch at login through an XDG autostart entry of this user
// ($XDG_CONFIG_HOME/autostart/quintalis.desktop). It is on while that file
// exists and does not say Hidden=true, which is how a user or a settings
// tool switches an entry off.
class XdgAutostart final : public LaunchAtLogin {
public:
    // `program` gives the program the entry should start, asked when it is written.
    XdgAutostart(std::filesystem::path entry, std::function<std::filesystem::path()> program);

    bool isEnabled() override;
    Outcome setEnabled(bool enabled) override;

private:
    std::filesystem::path entry_;
    std::function<std::filesystem::path()> program_;
};

}  // namespace quintalis
