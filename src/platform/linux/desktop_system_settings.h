#pragma once

#include "platform/child_processes.h"
#include "platform/host_environment.h"
#include "platform/system_settings.h"

namespace quintalis {

// The Bluetooth settings of whichever desktop is installed: GNOME's, KDE
// Plasma's, or Blueman's manager; the first found on PATH is started.
class DesktopSystemSettings final : public SystemSettings {
public:
    DesktopSystemSettings(const HostEnvironment& host, ChildProcesses& processes);

    bool openBluetooth() override;

private:
    const HostEnvironment& host_;
    ChildProcesses& processes_;
};

// The first executable file of that name in the folders of a PATH value.
std::optional<std::filesystem::path> findOnPath(const std::string& name, const std::string& path);

}  // namespace quintalis
