#include "app/select_backends.h"

#include "app/model/installer.h"
#include "base/log.h"
#include "platform/linux/bluez/bluez_peripheral_role.h"
#include "platform/linux/build_bundle_info.h"
#include "platform/linux/desktop_system_settings.h"
#include "platform/linux/json_file_defaults.h"
#include "platform/linux/linux_host_environment.h"
#include "platform/linux/posix_child_processes.h"
#include "platform/linux/proc_airplay_receiver.h"
#include "platform/linux/proc_running_programs.h"
#include "platform/linux/tesseract_recognizer.h"
#include "platform/linux/usb/libusb_bus.h"
#include "platform/linux/usb/lockdown_facts.h"
#include "platform/linux/usb/usb_capture_devices.h"
#include "platform/linux/unsupported_peripheral_role.h"
#include "platform/linux/user_installation.h"
#include "platform/linux/xcb_window_server.h"
#include "platform/linux/xcb_window_streams.h"
#include "platform/linux/xdg_autostart.h"
#include "platform/linux/xtest_input.h"
#include "simulator/simulator.h"
#include "simulator/x11/x_receiver_window.h"

namespace quintalis {
namespace {

simulator::Simulator* makeSimulator(const HostEnvironment& host) {
    auto wanted = host.variable("QUINTALIS_SIMULATOR");
    if (!wanted || wanted->empty()) return nullptr;
    std::string error;
    auto setups = simulator::Simulator::parse(*wanted, error);
    if (!setups) {
        log("ignoring QUINTALIS_SIMULATOR=" + *wanted + ": " + error);
        return nullptr;
    }
    // Receiver windows go on the X display when there is one.
    simulator::Simulator::WindowOpener openWindow;
    if (!host.variable("DISPLAY").value_or("").empty()) {
        openWindow = simulator::xReceiverWindows("");
    }
    auto* made = new simulator::Simulator(*setups, openWindow);
    log("simulator: " + std::to_string(made->phoneCount()) + " virtual " +
        (made->phoneCount() == 1 ? "iPhone" : "iPhones") + " running");
    return made;
}

// bluetoothd on the system bus (used as soon as it is there, should it
// start later), else a radio that says it is unsupported. QUINTALIS_BLUETOOTH_ADAPTERS names the
// adapters to use ("hci0,hci1"), all of them when unset or empty.
BluetoothPeripheralRole& linuxBluetooth(PlatformBackends& platform) {
    if (!BluezPeripheralRole::available()) return *new UnsupportedPeripheralRole();
    auto& host = platform.host;
    bluez::BluezSettings settings;
    std::string names = host.variable("QUINTALIS_BLUETOOTH_ADAPTERS").value_or("");
    for (size_t start = 0; start <= names.size();) {
        size_t comma = std::min(names.find(',', start), names.size());
        std::string name = names.substr(start, comma - start);
        if (!name.empty()) settings.adapters.insert(name);
        start = comma + 1;
    }
    if (!settings.adapters.empty()) log("using the Bluetooth adapters " + names);
    auto support = platform.bundle.stringValue("SkifflineSupportFolder").value_or("Skiffline");
    settings.hostBook = host.applicationSupportDirectory() / support / "bluetooth-hosts.json";
    return *new BluezPeripheralRole(BluezPeripheralRole::systemBus(), std::move(settings));
}

}  // namespace

PlatformBackends& selectPlatformBackends() {
    auto& host = *new LinuxHostEnvironment();
    auto& defaults = *new JSONFileDefaults(host.preferencesDirectory() / "defaults.json");
    return *new PlatformBackends{host, *new BuildBundleInfo(), defaults};
}

TextRecognizer& selectTextRecognizer() { return *new TesseractRecognizer(); }

DeviceBackends& selectDeviceBackends(PlatformBackends& platform, TextRecognizer& text) {
    auto& display = *new XDisplayLink();
    auto& xWindows = *new XcbWindowServer(display);
    auto& xStreams = *new XcbWindowStreams(display);
    auto& input = *new XTestSyntheticInput(display);
    if (auto* simulated = makeSimulator(platform.host)) {
        WindowServer& windows = simulated->windowServer() ? *simulated->windowServer() : xWindows;
        WindowStreams& streams = simulated->windowStreams() ? *simulated->windowStreams() : xStreams;
        // The phones on the cable are reached through the real protocol and decoder.
        auto& cable = *new UsbCaptureDevices(simulated->usbBus(), simulated->usbBus(), Clock::real());
        return *new DeviceBackends{simulated->radio(), cable, text, windows, streams, input, simulated};
    }
    auto& cable = *new UsbCaptureDevices(*new LibusbBus(), *new LockdownFacts(), Clock::real());
    return *new DeviceBackends{linuxBluetooth(platform), cable, text, xWindows, xStreams, input, nullptr};
}

bool desktopSession(const HostEnvironment& host) {
    if (host.variable("QUINTALIS_HEADLESS") == "1") return false;
    return !host.variable("DISPLAY").value_or("").empty() || !host.variable("WAYLAND_DISPLAY").value_or("").empty();
}

DesktopBackends& selectDesktopBackends(PlatformBackends& platform, MainThread& mainThread) {
    auto& host = platform.host;
    auto& processes = *new PosixChildProcesses();
    auto& installation =
        *new UserInstallation(UserInstallation::thisProgram(), host.homeDirectory(), host.applicationSupportDirectory());
    auto& autostart = *new XdgAutostart(host.configurationDirectory() / "autostart/quintalis.desktop",
                                        [&installation] { return cliPath(installation); });
    return *new DesktopBackends{mainThread,
                                processes,
                                *new ProcRunningPrograms(),
                                autostart,
                                *new DesktopSystemSettings(host, processes),
                                *new ProcAirPlayReceiver(),
                                installation};
}

}  // namespace quintalis
