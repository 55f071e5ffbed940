#include "engine/app_info.h"

namespace quintalis {

AppInfo::AppInfo(const BundleInfo& bundle, const HostEnvironment& host) : bundle_(bundle), host_(host) {}

std::string AppInfo::version() const {
    if (auto version = bundle_.stringValue("QuintalisVersion")) return *version;
    if (auto version = bundle_.stringValue("CFBundleShortVersionString")) return *version;
    return "dev";
}

std::string AppInfo::macName() const { return host_.computerName().value_or("this computer"); }

}  // namespace quintalis
