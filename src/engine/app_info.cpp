#include "engine/app_info.h"

namespace quintalis {

AppInfo::AppInfo(const BundleInfo& bundle, const HostEnvironment& host) : bundle_(bundle), host_(host) {}

std::string AppInfo::version() const {
    if (auto version = bundle_.stringValue("QuintalisVersion")) return *version;
    if (auto version = bundle_.stringValue("CFBundleShortVersionString")) return *version;
    return "dev";
}

std::string AppInfo::cliPath() const {
    std::lock_guard lock(mutex_);
    std::string base = displayPathOverride_.value_or(bundle_.bundlePath().string());
    return base + "/Contents/MacOS/quintalis";
}

bool AppInfo::isInApplications() const {
    std::string path = bundle_.bundlePath().string();
    auto startsWith = [&](const std::string& prefix) { return path.rfind(prefix, 0) == 0; };
    return startsWith("/Applications/") || startsWith(host_.homeDirectory().string() + "/Applications/");
}

std::string AppInfo::macName() const { return host_.computerName().value_or("this computer"); }

void AppInfo::setDisplayPathOverride(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    displayPathOverride_ = std::move(path);
}

}  // namespace quintalis
