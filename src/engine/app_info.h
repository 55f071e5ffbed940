#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/bundle_info.h"
#include "platform/host_environment.h"

namespace quintalis {

// Facts about this copy of the app: version, where its command-line tool
// sits, whether it was installed, and the computer's name. Thread-safe.
class AppInfo {
public:
    AppInfo(const BundleInfo& bundle, const HostEnvironment& host);

    static AppInfo& shared();

    // "QuintalisVersion", else "CFBundleShortVersionString", else "dev".
    std::string version() const;
    std::string cliPath() const;
    bool isInApplications() const;
    // The computer's name, or "this computer" when it has none.
    std::string macName() const;

    // Makes cliPath show an installed location (used when rendering sample screens).
    void setDisplayPathOverride(std::optional<std::string> path);

private:
    const BundleInfo& bundle_;
    const HostEnvironment& host_;
    mutable std::mutex mutex_;
    std::optional<std::string> displayPathOverride_;
};

}  // namespace quintalis
