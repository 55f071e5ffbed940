#include "platform/linux/desktop_system_settings.h"

#include <unistd.h>

#include "base/log.h"

namespace quintalis {
namespace {

struct SettingsProgram {
    const char* name;
    std::vector<std::string> arguments;
};

const std::vector<SettingsProgram>& bluetoothSettings() {
    static const std::vector<SettingsProgram> programs{
        {"gnome-control-center", {"bluetooth"}},
        {"systemsettings", {"kcm_bluetooth"}},
        {"blueman-manager", {}},
    };
    return programs;
}

}  // namespace

std::optional<std::filesystem::path> findOnPath(const std::string& name, const std::string& path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        std::string folder = path.substr(start, end - start);
        start = end + 1;
        // An empty entry means the working folder, which no settings program lives in.
        if (folder.empty()) continue;
        std::filesystem::path candidate = std::filesystem::path(folder) / name;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error) && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

DesktopSystemSettings::DesktopSystemSettings(const HostEnvironment& host, ChildProcesses& processes)
    : host_(host), processes_(processes) {}

bool DesktopSystemSettings::openBluetooth() {
    std::string path = host_.variable("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
    for (const auto& program : bluetoothSettings()) {
        auto found = findOnPath(program.name, path);
        if (!found) continue;
        if (auto started = processes_.start(*found, program.arguments); !started.ok()) {
            log("settings: couldn't start " + found->string() + ": " + started.message());
            return false;
        }
        return true;
    }
    log("settings: no Bluetooth settings to open (none of gnome-control-center, systemsettings, blueman-manager)");
    return false;
}

}  // namespace quintalis
