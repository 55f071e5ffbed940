#pragma once

#include "platform/host_environment.h"

namespace quintalis {

// Folders follow the XDG base-directory conventions; the computer's name is
// the pretty hostname from /etc/machine-info, else the kernel hostname.
class LinuxHostEnvironment final : public HostEnvironment {
public:
    // `machineInfo` is the file that may hold PRETTY_HOSTNAME; tests point it elsewhere.
    explicit LinuxHostEnvironment(std::filesystem::path machineInfo = "/etc/machine-info");

    std::filesystem::path homeDirectory() const override;
    std::filesystem::path applicationSupportDirectory() const override;
    std::filesystem::path preferencesDirectory() const override;
    std::filesystem::path configurationDirectory() const override;
    std::filesystem::path logsDirectory() const override;
    std::optional<std::string> computerName() const override;
    std::optional<std::string> variable(const std::string& name) const override;

private:
    std::filesystem::path xdgDirectory(const char* variable, const char* fallback) const;

    std::filesystem::path machineInfo_;
};

// Reads PRETTY_HOSTNAME from the text of an /etc/machine-info file,
// removing shell-style quotes. Nothing when absent or empty.
std::optional<std::string> prettyHostname(const std::string& machineInfoText);

}  // namespace quintalis
