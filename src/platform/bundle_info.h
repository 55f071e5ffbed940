#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quintalis {

// The application package's information dictionary and location.
// Keys: "QuintalisVersion", "CFBundleShortVersionString",
// "SkifflineBluetoothName", "SkifflineSupportFolder".
class BundleInfo {
public:
    virtual ~BundleInfo() = default;

    virtual std::optional<std::string> stringValue(const std::string& key) const = 0;
    virtual std::filesystem::path bundlePath() const = 0;
};

}  // namespace quintalis
