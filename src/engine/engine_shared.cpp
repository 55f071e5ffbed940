#include "engine/engine.h"
#include "engine/routes.h"
#include "phones/devices.h"
#include "phones/screen_capture.h"
#include "platform/select_backends.h"
#include "platform/select_device_backends.h"

namespace quintalis {

Engine& Engine::shared() {
    static Routes routes(HIDPeripheral::shared(), Devices::shared());
    Engine::StartHooks hooks;
    hooks.phoneSide = {
        [] { Devices::shared().start(); },
        [] { return DeviceBackends::selected().bluetooth.authorization() == BluetoothAuthorization::allowedAlways; },
        [] { HIDPeripheral::shared().start(); },
        [] { return DeviceBackends::selected().capture.authorizationStatus() == CaptureAuthorization::authorized; },
        [] { ScreenCapture::shared().start(); },
    };
    static Engine engine(PlatformBackends::selected().host, PlatformBackends::selected().defaults, AppInfo::shared(),
                         [](const HTTPRequest& request) { return routes.handle(request); }, hooks);
    return engine;
}

}  // namespace quintalis
