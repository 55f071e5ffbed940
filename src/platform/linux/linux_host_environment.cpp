#include "platform/linux/linux_host_environment.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "base/read_file.h"

namespace quintalis {

LinuxHostEnvironment::LinuxHostEnvironment(std::filesystem::path machineInfo)
    : machineInfo_(std::move(machineInfo)) {}

std::optional<std::string> LinuxHostEnvironment::variable(const std::string& name) const {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
}

std::filesystem::path LinuxHostEnvironment::homeDirectory() const {
    if (auto home = variable("HOME"); home && !home->empty()) return *home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

std::filesystem::path LinuxHostEnvironment::xdgDirectory(const char* name, const char* fallback) const {
    // The XDG rules ignore relative paths in these variables.
    if (auto value = variable(name); value && !value->empty() && (*value)[0] == '/') return *value;
    return homeDirectory() / fallback;
}

std::filesystem::path LinuxHostEnvironment::applicationSupportDirectory() const {
    return xdgDirectory("XDG_DATA_HOME", ".local/share");
}

std::filesystem::path LinuxHostEnvironment::preferencesDirectory() const {
    return configurationDirectory() / "quintalis";
}

std::filesystem::path LinuxHostEnvironment::configurationDirectory() const {
    return xdgDirectory("XDG_CONFIG_HOME", ".config");
}

std::filesystem::path LinuxHostEnvironment::logsDirectory() const {
    return xdgDirectory("XDG_STATE_HOME", ".local/state") / "quintalis";
}

std::optional<std::string> prettyHostname(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    std::optional<std::string> found;
    while (std::getline(lines, line)) {
        const std::string key = "PRETTY_HOSTNAME=";
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        found = value.empty() ? std::nullopt : std::optional(value);
    }
    return found;
}

std::optional<std::string> LinuxHostEnvironment::computerName() const {
    if (auto text = readFile(machineInfo_)) {
        if (auto pretty = prettyHostname(*text)) return pretty;
    }
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return std::string(name);
    return std::nullopt;
}

}  // namespace quintalis
