#include "engine/engine.h"
#include "engine/routes.h"
#include "platform/select_backends.h"

namespace quintalis {

Engine& Engine::shared() {
    static Routes routes;
    static Engine engine(PlatformBackends::selected().host, PlatformBackends::selected().defaults, AppInfo::shared(),
                         [](const HTTPRequest& request) { return routes.handle(request); });
    return engine;
}

}  // namespace quintalis
