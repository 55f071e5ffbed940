#pragma once

#include <string>

#include "platform/bundle_info.h"
#include "platform/host_environment.h"

namespace quintalis {

// Facts about this copy of the app: its version and the computer's name.
// Thread-safe: it only reads the bundle and the host.
class AppInfo {
public:
    AppInfo(const BundleInfo& bundle, const HostEnvironment& host);

    // "QuintalisVersion", else "CFBundleShortVersionString", else "dev".
    std::string version() const;
    // The computer's name, or "this computer" when it has none.
    std::string macName() const;

private:
    const BundleInfo& bundle_;
    const HostEnvironment& host_;
};

}  // namespace quintalis
