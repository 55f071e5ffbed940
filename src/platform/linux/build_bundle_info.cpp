#include "platform/linux/build_bundle_info.h"

#include <system_error>

namespace quintalis {

BuildBundleInfo::BuildBundleInfo() {
    // Each macro is defined by the build only when the key was configured.
#ifdef QUINTALIS_BUNDLE_VERSION
    values_["QuintalisVersion"] = QUINTALIS_BUNDLE_VERSION;
#endif
#ifdef QUINTALIS_BUNDLE_SHORT_VERSION
    values_["CFBundleShortVersionString"] = QUINTALIS_BUNDLE_SHORT_VERSION;
#endif
#ifdef QUINTALIS_BUNDLE_BLUETOOTH_NAME
    values_["SkifflineBluetoothName"] = QUINTALIS_BUNDLE_BLUETOOTH_NAME;
#endif
#ifdef QUINTALIS_BUNDLE_SUPPORT_FOLDER
    values_["SkifflineSupportFolder"] = QUINTALIS_BUNDLE_SUPPORT_FOLDER;
#endif
}

std::optional<std::string> BuildBundleInfo::stringValue(const std::string& key) const {
    auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

std::filesystem::path BuildBundleInfo::bundlePath() const {
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::filesystem::current_path(error);
    return executable.parent_path();
}

}  // namespace quintalis
