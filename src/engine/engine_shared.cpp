#include "engine/engine.h"
#include "engine/routes.h"
#include "phones/devices.h"
#include "phones/screen_capture.h"
#include "platform/select_backends.h"
#include "platform/select_device_backends.h"
#include "simulator/simulator.h"

namespace quintalis {

// Process-wide services live until exit and are never torn down: at exit
// that would only run their pending work (a queued matching pass) for nothing.
Engine& Engine::shared() {
    static Routes& routes = *new Routes(HIDPeripheral::shared(), Devices::shared());
    Engine::StartHooks hooks;
    hooks.phoneSide = {
        [] { Devices::shared().start(); },
        [] { return DeviceBackends::selected().bluetooth.authorization() == BluetoothAuthorization::allowedAlways; },
        [] { HIDPeripheral::shared().start(); },
        [] { return DeviceBackends::selected().capture.authorizationStatus() == CaptureAuthorization::authorized; },
        [] { ScreenCapture::shared().start(); },
    };
    // While the virtual iPhones run, GET /simulator shows what really happened on them.
    auto handle = [](const HTTPRequest& request) {
        auto* simulated = DeviceBackends::selected().simulator;
        if (simulated && request.method == "GET" && request.path == "/simulator") {
            return HTTPResponse::json(simulated->groundTruth());
        }
        return routes.handle(request);
    };
    static Engine& engine = *new Engine(PlatformBackends::selected().host, PlatformBackends::selected().defaults, AppInfo::shared(),
                         handle, hooks);
    return engine;
}

}  // namespace quintalis
