#pragma once

#include <map>

#include "platform/bundle_info.h"

namespace quintalis {

// On Linux there is no application package: the information dictionary is
// whatever the build configured (all keys absent in a developer build), and
// the running executable's folder stands in for the package's path.
class BuildBundleInfo final : public BundleInfo {
public:
    BuildBundleInfo();

    std::optional<std::string> stringValue(const std::string& key) const override;
    std::filesystem::path bundlePath() const override;

private:
    std::map<std::string, std::string> values_;
};

}  // namespace quintalis
