#pragma once

#include "platform/bundle_info.h"
#include "platform/host_environment.h"
#include "platform/user_defaults.h"

namespace quintalis {

// The one place that decides which implementation stands behind each
// platform seam in this process. Created on first use; lives until exit.
struct PlatformBackends {
    HostEnvironment& host;
    BundleInfo& bundle;
    UserDefaults& defaults;

    static PlatformBackends& selected();
};

}  // namespace quintalis
