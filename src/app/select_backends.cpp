#include "app/select_backends.h"

#include "app/model/installer.h"
#include "app/ui/gtk_main_thread.h"
#include "base/log.h"
#include "platform/linux/bluez/bluez_peripheral_role.h"
#include "platform/linux/build_bundle_info.h"
#include "platform/linux/desktop_system_settings.h"
#include "platform/linux/json_file_defaults.h"
#include "platform/linux/linux_host_environment.h"
#include "platform/linux/no_capture_devices.h"
#include "platform/linux/posix_child_processes.h"
#include "platform/linux/proc_airplay_receiver.h"
#include "platform/linux/proc_running_programs.h"
#include "platform/linux/tesseract_recognizer.h"
#include "platform/linux/unsupported_peripheral_role.h"
#include "platform/linux/user_installation.h"
#include "platform/linux/xcb_window_server.h"
#include "platform/linux/xcb_window_streams.h"
#include "platform/linux/xdg_autostart.h"
#include "platform/linux/xtest_input.h"
#include "simulator/simulator.h"

namespace quintalis {
namespace {

simulator::Simulator* makeSimulator() {
    auto wanted = PlatformBackends::selected().host.variable("QUINTALIS_SIMULATOR");
    if (!wanted || wanted->empty()) return nullptr;
    std::string error;
    auto setups = simulator::Simulator::parse(*wanted, error);
    if (!setups) {
        log("ignoring QUINTALIS_SIMULATOR=" + *wanted + ": " + error);
        return nullptr;
    }
    // Receiver windows go on the X display when there is one.
    std::optional<std::string> display;
    if (!PlatformBackends::selected().host.variable("DISPLAY").value_or("").empty()) display = "";
    auto* made = new simulator::Simulator(*setups, display);
    log("simulator: " + std::to_string(made->phoneCount()) + " virtual " +
        (made->phoneCount() == 1 ? "iPhone" : "iPhones") + " running");
    return made;
}

// bluetoothd when the system bus has it (or can start it), else a radio that says it is unsupported.
BluetoothPeripheralRole& linuxBluetooth() {
    if (BluezPeripheralRole::available()) return *new BluezPeripheralRole(BluezPeripheralRole::systemBus());
    return *new UnsupportedPeripheralRole();
}

}  // namespace

PlatformBackends& PlatformBackends::selected() {
    static PlatformBackends& backends = []() -> PlatformBackends& {
        auto& host = *new LinuxHostEnvironment();
        auto& defaults = *new JSONFileDefaults(host.preferencesDirectory() / "defaults.json");
        return *new PlatformBackends{host, *new BuildBundleInfo(), defaults};
    }();
    return backends;
}

TextRecognizer& selectedTextRecognizer() {
    static TextRecognizer& recognizer = *new TesseractRecognizer();
    return recognizer;
}

DeviceBackends& DeviceBackends::selected() {
    static DeviceBackends& backends = []() -> DeviceBackends& {
        auto& text = selectedTextRecognizer();
        auto& display = *new XDisplayLink();
        auto& xWindows = *new XcbWindowServer(display);
        auto& xStreams = *new XcbWindowStreams(display);
        auto& input = *new XTestSyntheticInput(display);
        if (auto* simulated = makeSimulator()) {
            WindowServer& windows = simulated->windowServer() ? *simulated->windowServer() : xWindows;
            WindowStreams& streams = simulated->windowStreams() ? *simulated->windowStreams() : xStreams;
            return *new DeviceBackends{simulated->radio(), simulated->cameras(), text, windows, streams, input,
                                       simulated};
        }
        return *new DeviceBackends{linuxBluetooth(), *new NoCaptureDevices(), text, xWindows, xStreams, input,
                                   nullptr};
    }();
    return backends;
}

bool desktopSession() {
    auto& host = PlatformBackends::selected().host;
    if (host.variable("QUINTALIS_HEADLESS") == "1") return false;
    return !host.variable("DISPLAY").value_or("").empty() || !host.variable("WAYLAND_DISPLAY").value_or("").empty();
}

DesktopBackends& DesktopBackends::selected() {
    static DesktopBackends& backends = []() -> DesktopBackends& {
        auto& host = PlatformBackends::selected().host;
        auto& processes = *new PosixChildProcesses();
        auto& installation =
            *new UserInstallation(UserInstallation::thisProgram(), host.homeDirectory(), host.applicationSupportDirectory());
        auto& autostart = *new XdgAutostart(host.configurationDirectory() / "autostart/quintalis.desktop",
                                            [&installation] { return cliPath(installation); });
        MainThread& mainThread = desktopSession() ? static_cast<MainThread&>(*new GtkMainThread())
                                                  : static_cast<MainThread&>(*new RunLoopMainThread());
        return *new DesktopBackends{mainThread,                         processes,
                                    *new ProcRunningPrograms(),         autostart,
                                    *new DesktopSystemSettings(host, processes), *new ProcAirPlayReceiver(),
                                    installation};
    }();
    return backends;
}

}  // namespace quintalis
