#include "app/services.h"

#include "app/desktop_app.h"
#include "app/model/ai_connect.h"
#include "app/model/app_state.h"
#include "app/model/installer.h"
#include "app/model/receiver_keeper.h"
#include "app/model/try_it.h"
#include "app/ui/airplay_receiver_child.h"
#include "base/app_log.h"
#include "base/clock.h"
#include "base/log.h"
#include "bluetooth/hid_peripheral.h"
#include "commands/usb_commands.h"
#include "engine/app_info.h"
#include "engine/engine.h"
#include "engine/routes.h"
#include "mirror/desktop_control.h"
#include "mirror/screen_permission.h"
#include "mirror/window_capture.h"
#include "phones/devices.h"
#include "phones/screen_capture.h"
#include "simulator/simulator.h"

namespace quintalis {

PlatformBackends& Services::platform() {
    return platform_.get([]() -> PlatformBackends& { return selectPlatformBackends(); });
}

TextRecognizer& Services::text() {
    return text_.get([]() -> TextRecognizer& { return selectTextRecognizer(); });
}

DeviceBackends& Services::devices() {
    return devices_.get([this]() -> DeviceBackends& { return selectDeviceBackends(platform(), text()); });
}

DesktopBackends& Services::desktop() {
    return desktop_.get([this]() -> DesktopBackends& { return selectDesktopBackends(platform(), mainLoop_); });
}

AppLog& Services::appLog() {
    return appLog_.get([this]() -> AppLog& { return *new AppLog(platform().host.logsDirectory() / "Quintalis.log"); });
}

AppInfo& Services::appInfo() {
    return appInfo_.get([this]() -> AppInfo& { return *new AppInfo(platform().bundle, platform().host); });
}

HIDPeripheral& Services::peripheral() {
    return peripheral_.get([this]() -> HIDPeripheral& {
        return *new HIDPeripheral(devices().bluetooth, bluetoothName(platform().bundle));
    });
}

ScreenCapture& Services::screenCapture() {
    // The engine starts it on the main loop, and a USB phone takes seconds to start.
    return screenCapture_.get([this]() -> ScreenCapture& {
        return *new ScreenCapture(devices().capture, Clock::real(), ScreenCapture::StartOn::ownQueue);
    });
}

Devices& Services::phones() {
    return phones_.get([this]() -> Devices& {
        return *new Devices(screenCapture(), peripheral(), Clock::real(),
                            pairingsFileLocation(platform().host.applicationSupportDirectory(),
                                                 platform().bundle.stringValue("SkifflineSupportFolder")));
    });
}

CaptureBackends& Services::capture() {
    return capture_.get([this]() -> CaptureBackends& {
        auto& host = platform().host;
        EnvironmentReader environment = [&host](const std::string& name) { return host.variable(name); };
        return *new CaptureBackends{devices().windows, devices().windowStreams, Clock::real(), environment,
                                    screenPermissionHelp(screenAppName(platform().bundle), environment)};
    });
}

Engine& Services::engine() {
    return engine_.get([this]() -> Engine& {
        auto& defaults = platform().defaults;
        Routes::Options options;
        options.pausedBecause = [&defaults] { return quintalis::pauseReason(defaults); };
        auto& routes = *new Routes(peripheral(), phones(), Clock::real(), options);
        Engine::StartHooks hooks;
        hooks.phoneSide = {
            [this] { phones().start(); },
            [this] { return devices().bluetooth.authorization() == BluetoothAuthorization::allowedAlways; },
            [this] { peripheral().start(); },
            [this] { return devices().capture.authorizationStatus() == CaptureAuthorization::authorized; },
            [this] { screenCapture().start(); },
        };
        hooks.airplay = {
            [this] { return std::make_unique<AirPlayServer>(capture(), devices().text, std::nullopt); },
            [this] { return screenPermission(capture()); },
            &mainLoop_,
        };
        // While the virtual iPhones run, GET /simulator shows what really happened on them.
        auto handle = [this, &routes](const HTTPRequest& request, Responder responder) {
            auto* simulated = devices().simulator;
            if (simulated && request.method == "GET" && request.path == "/simulator") {
                return responder.send(HTTPResponse::json(simulated->groundTruth()));
            }
            routes.handle(request, std::move(responder));
        };
        return *new Engine(platform().host, defaults, appInfo(), handle, hooks);
    });
}

AIConnect& Services::aiConnect() {
    return aiConnect_.get([this]() -> AIConnect& {
        auto& installation = desktop().installation;
        return *new AIConnect(platform().host, desktop().processes, Clock::real(),
                              [&installation] { return quintalis::cliPath(installation); });
    });
}

TryIt& Services::tryIt() {
    return tryIt_.get([this]() -> TryIt& { return *new TryIt(engine(), devices().text); });
}

Installer& Services::installer() {
    return installer_.get([this]() -> Installer& {
        // Quitting ends the main loop; entry then ends the process.
        return *new Installer(desktop().installation, desktop().processes, desktop().mainThread, [this] { quit(); });
    });
}

ReceiverKeeper& Services::receiverKeeper() {
    return receiverKeeper_.get([this]() -> ReceiverKeeper& {
        return *new ReceiverKeeper(*new AirPlayReceiverChild(), Clock::real(),
                                   platform().host.computerName().value_or("Quintalis"));
    });
}

AppState& Services::appState() {
    return appState_.get([this]() -> AppState& {
        auto& desktop = this->desktop();
        auto& devices = this->devices();
        return *new AppState({engine(), platform().defaults,
                              {devices.bluetooth, devices.capture, devices.windows}, aiConnect(),
                              desktop.launchAtLogin, desktop.airplayReceiver, desktop.mainThread,
                              &desktop.programs, &receiverKeeper()});
    });
}

DesktopControl& Services::desktopControl() {
    return desktopControl_.get([this]() -> DesktopControl& { return *new DesktopControl(devices().input, Clock::real()); });
}

USBCommandBackends& Services::usbCommands() {
    return usbCommands_.get([this]() -> USBCommandBackends& {
        return *new USBCommandBackends{devices().capture, devices().text, Clock::real()};
    });
}

void Services::quit() {
    if (!quitDesktopApp()) mainLoop_.stop();
}

void Services::stop(StopLog say) {
    std::lock_guard lock(stopping_);
    if (stopped_) return;
    stopped_ = true;
    const auto began = std::chrono::steady_clock::now();
    bool stoppedAny = false;
    // A part never made (a command builds only what it needs) is skipped
    // without a word, so a command that started nothing logs nothing.
    auto step = [&stoppedAny, say](const char* what, auto* part, auto&& stopPart) {
        if (!part) return;
        if (say == StopLog::steps) log(std::string("stop: ") + what);
        stopPart(*part);
        stoppedAny = true;
    };
    // Outside in, each part after what feeds it, so that no thread it ends
    // is started again by work still on its way. The servers close first, so
    // no client starts anything new and none is left hanging; then the
    // matching and the phones' inputs, which read the screens and drive the
    // radio, let go of both and stop following their changes; then the
    // phones' screens are handed back while nothing asks for frames, and the
    // USB bus stops reporting; then the screens; then the radio, which no
    // action uses any more, lets go of the phones' keyboard and pointer;
    // then the virtual iPhones, which the radio and the cable fed; then the
    // child processes end. Last the main loop stops; everything that fed it
    // has.
    //
    // Left running to the end, by design: the thread that waits for SIGINT
    // and SIGTERM (every other thread blocks them, so it is what still hears
    // one while the stop runs), the stop's own watchdog, and the log's,
    // which writes the stop's last lines.
    step("HTTP servers", engine_.ifMade(), [](Engine& engine) { engine.stop(); });
    step("phones", phones_.ifMade(), [](Devices& phones) { phones.stop(); });
    step("capture sessions", devices_.ifMade(), [](DeviceBackends& devices) { devices.capture.stopAll(); });
    step("screens", screenCapture_.ifMade(), [](ScreenCapture& screens) { screens.stop(); });
    step("Bluetooth peripheral", peripheral_.ifMade(), [](HIDPeripheral& peripheral) { peripheral.stop(); });
    auto* devices = devices_.ifMade();
    step("virtual iPhones", devices ? devices->simulator : nullptr, [](simulator::Simulator& phones) { phones.stop(); });
    step("child processes", receiverKeeper_.ifMade(), [](ReceiverKeeper& keeper) { keeper.stop(); });
    mainLoop_.stop();
    if (!stoppedAny || say == StopLog::silent) return;
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
    log("stop: done in " + std::to_string(took.count()) + " ms");
}

}  // namespace quintalis
