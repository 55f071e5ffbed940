#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quintalis {

// Facts about the computer and the user's folders that the app needs.
class HostEnvironment {
public:
    virtual ~HostEnvironment() = default;

    virtual std::filesystem::path homeDirectory() const = 0;
    // Where the app keeps its data files (the pairings store's parent).
    virtual std::filesystem::path applicationSupportDirectory() const = 0;
    // The folder that holds the preferences file.
    virtual std::filesystem::path preferencesDirectory() const = 0;
    // Where programs keep the user's settings; other programs' settings
    // files (AI clients') and the desktop's autostart entries live under it.
    virtual std::filesystem::path configurationDirectory() const = 0;
    // The folder that holds Quintalis.log.
    virtual std::filesystem::path logsDirectory() const = 0;
    // The computer's user-visible name, when it has one.
    virtual std::optional<std::string> computerName() const = 0;
    // An environment variable of this process.
    virtual std::optional<std::string> variable(const std::string& name) const = 0;
};

}  // namespace quintalis
