#include "platform/select_backends.h"

#include "platform/linux/build_bundle_info.h"
#include "platform/linux/json_file_defaults.h"
#include "platform/linux/linux_host_environment.h"

namespace quintalis {
namespace {

std::filesystem::path defaultsFile(const HostEnvironment& host) {
    auto config = host.variable("XDG_CONFIG_HOME");
    std::filesystem::path base =
        config && !config->empty() && (*config)[0] == '/' ? std::filesystem::path(*config) : host.homeDirectory() / ".config";
    return base / "quintalis" / "defaults.json";
}

}  // namespace

PlatformBackends& PlatformBackends::selected() {
    static LinuxHostEnvironment host;
    static BuildBundleInfo bundle;
    static JsonFileDefaults defaults(defaultsFile(host));
    static PlatformBackends backends{host, bundle, defaults};
    return backends;
}

}  // namespace quintalis
