// Every process-wide instance, built on the selected backends. Each is made
// once, on first use, and never destroyed (see base/exit_process.h).

#include "app/entry.h"
#include "app/model/ai_connect.h"
#include "app/model/app_state.h"
#include "app/model/installer.h"
#include "app/model/try_it.h"
#include "app/select_backends.h"
#include "app/ui/airplay_receiver_child.h"
#include "base/app_log.h"
#include "base/clock.h"
#include "base/main_run_loop.h"
#include "bluetooth/hid_peripheral.h"
#include "engine/app_info.h"
#include "engine/engine.h"
#include "engine/routes.h"
#include "mirror/desktop_control.h"
#include "mirror/screen_permission.h"
#include "phones/devices.h"
#include "phones/screen_capture.h"
#include "commands/usb_commands.h"
#include "simulator/simulator.h"

namespace quintalis {

AppLog& AppLog::shared() {
    static AppLog& log = *new AppLog(PlatformBackends::selected().host.logsDirectory() / "Quintalis.log");
    return log;
}

AppInfo& AppInfo::shared() {
    static AppInfo& info = *new AppInfo(PlatformBackends::selected().bundle, PlatformBackends::selected().host);
    return info;
}

HIDPeripheral& HIDPeripheral::shared() {
    static HIDPeripheral& peripheral =
        *new HIDPeripheral(DeviceBackends::selected().bluetooth, bluetoothName(PlatformBackends::selected().bundle));
    return peripheral;
}

ScreenCapture& ScreenCapture::shared() {
    static ScreenCapture& capture = *new ScreenCapture(DeviceBackends::selected().capture, Clock::real());
    return capture;
}

Devices& Devices::shared() {
    static Devices& devices = []() -> Devices& {
        auto& platform = PlatformBackends::selected();
        return *new Devices(ScreenCapture::shared(), HIDPeripheral::shared(), Clock::real(),
                            pairingsFileLocation(platform.host.applicationSupportDirectory(),
                                                 platform.bundle.stringValue("SkifflineSupportFolder")));
    }();
    return devices;
}

CaptureBackends& CaptureBackends::shared() {
    static CaptureBackends& backends = []() -> CaptureBackends& {
        auto& devices = DeviceBackends::selected();
        auto& platform = PlatformBackends::selected();
        EnvironmentReader environment = [&host = platform.host](const std::string& name) {
            return host.variable(name);
        };
        return *new CaptureBackends{devices.windows, devices.windowStreams, Clock::real(), environment,
                                    screenPermissionHelp(screenAppName(platform.bundle), environment)};
    }();
    return backends;
}

Engine& Engine::shared() {
    static Engine& engine = []() -> Engine& {
        auto& platform = PlatformBackends::selected();
        Routes::Options options;
        options.pausedBecause = [&defaults = platform.defaults] { return quintalis::pauseReason(defaults); };
        auto& routes = *new Routes(HIDPeripheral::shared(), Devices::shared(), Clock::real(), options);
        Engine::StartHooks hooks;
        hooks.phoneSide = {
            [] { Devices::shared().start(); },
            [] {
                return DeviceBackends::selected().bluetooth.authorization() == BluetoothAuthorization::allowedAlways;
            },
            [] { HIDPeripheral::shared().start(); },
            [] { return DeviceBackends::selected().capture.authorizationStatus() == CaptureAuthorization::authorized; },
            [] { ScreenCapture::shared().start(); },
        };
        hooks.airplay = {
            [] {
                return std::make_unique<AirPlayServer>(CaptureBackends::shared(), DeviceBackends::selected().text,
                                                       std::nullopt);
            },
            [] { return screenPermission(CaptureBackends::shared()); },
            &MainRunLoop::shared(),
        };
        // While the virtual iPhones run, GET /simulator shows what really happened on them.
        auto handle = [&routes](const HTTPRequest& request, Responder responder) {
            auto* simulated = DeviceBackends::selected().simulator;
            if (simulated && request.method == "GET" && request.path == "/simulator") {
                return responder.send(HTTPResponse::json(simulated->groundTruth()));
            }
            routes.handle(request, std::move(responder));
        };
        return *new Engine(platform.host, platform.defaults, AppInfo::shared(), handle, hooks);
    }();
    return engine;
}

AIConnect& AIConnect::shared() {
    static AIConnect& connect = []() -> AIConnect& {
        auto& desktop = DesktopBackends::selected();
        return *new AIConnect(PlatformBackends::selected().host, desktop.processes, Clock::real(),
                              [&desktop] { return quintalis::cliPath(desktop.installation); });
    }();
    return connect;
}

TryIt& TryIt::shared() {
    static TryIt& tryIt = *new TryIt(Engine::shared(), DeviceBackends::selected().text);
    return tryIt;
}

// Quitting ends the main loop; entry then ends the process.
Installer& Installer::shared() {
    static Installer& installer = []() -> Installer& {
        auto& desktop = DesktopBackends::selected();
        return *new Installer(desktop.installation, desktop.processes, desktop.mainThread,
                              [] { quitApp(); });
    }();
    return installer;
}

ReceiverKeeper& ReceiverKeeper::shared() {
    static ReceiverKeeper& keeper = *new ReceiverKeeper(
        *new AirPlayReceiverChild(), Clock::real(),
        PlatformBackends::selected().host.computerName().value_or("Quintalis"));
    return keeper;
}

AppState& AppState::shared() {
    static AppState& state = []() -> AppState& {
        auto& desktop = DesktopBackends::selected();
        auto& devices = DeviceBackends::selected();
        return *new AppState({Engine::shared(), PlatformBackends::selected().defaults,
                              {devices.bluetooth, devices.capture, devices.windows}, AIConnect::shared(),
                              desktop.launchAtLogin, desktop.airplayReceiver, desktop.mainThread,
                              &desktop.programs, &ReceiverKeeper::shared()});
    }();
    return state;
}

DesktopControl& DesktopControl::shared() {
    static DesktopControl& control = *new DesktopControl(DeviceBackends::selected().input, Clock::real());
    return control;
}

USBCommandBackends& USBCommandBackends::shared() {
    static USBCommandBackends& backends = *new USBCommandBackends{
        DeviceBackends::selected().capture, DeviceBackends::selected().text, Clock::real()};
    return backends;
}

}  // namespace quintalis
