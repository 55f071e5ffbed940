#pragma once

#include "base/main_thread.h"
#include "platform/airplay_receiver.h"
#include "platform/bundle_info.h"
#include "platform/capture_devices.h"
#include "platform/child_processes.h"
#include "platform/host_environment.h"
#include "platform/launch_at_login.h"
#include "platform/peripheral_manager.h"
#include "platform/program_installation.h"
#include "platform/running_programs.h"
#include "platform/synthetic_input.h"
#include "platform/system_settings.h"
#include "platform/text_recognizer.h"
#include "platform/user_defaults.h"
#include "platform/window_server.h"
#include "platform/window_streams.h"

namespace quintalis {

namespace simulator {
class Simulator;
}

// The one place that decides which implementation stands behind each
// platform seam in this process. Each select function makes a new set; the
// app's Services keeps the one the process uses, and never destroys it.

// The computer itself: its folders and name, the build's facts, the preferences.
struct PlatformBackends {
    HostEnvironment& host;
    BundleInfo& bundle;
    UserDefaults& defaults;
};

// What reaches the phone (the Bluetooth radio, the USB screens, the windows
// an AirPlay receiver shows it in, synthetic input to the desktop those
// windows are on) and reads text on its screen: the Linux backends, or the
// virtual iPhones when QUINTALIS_SIMULATOR asks for them.
struct DeviceBackends {
    BluetoothPeripheralRole& bluetooth;
    CaptureDevices& capture;
    TextRecognizer& text;
    WindowServer& windows;
    WindowStreams& windowStreams;
    SyntheticInput& input;
    simulator::Simulator* simulator;  // when the virtual iPhones stand in for real ones
};

// What the app itself needs of the desktop: the loop it runs on, other
// programs, launch at login, the settings windows, the AirPlay receiver and
// its own installation.
struct DesktopBackends {
    MainThread& mainThread;
    ChildProcesses& processes;
    RunningPrograms& programs;
    LaunchAtLogin& launchAtLogin;
    SystemSettings& settings;
    AirPlayReceiver& airplayReceiver;
    ProgramInstallation& installation;
};

PlatformBackends& selectPlatformBackends();
// Reads the text on pictures of a phone's screen. It needs no device, so a
// client of another process's engine has it without the rest.
TextRecognizer& selectTextRecognizer();
DeviceBackends& selectDeviceBackends(PlatformBackends& platform, TextRecognizer& text);
DesktopBackends& selectDesktopBackends(PlatformBackends& platform, MainThread& mainThread);

// Whether this process runs as the desktop app: there is a display and
// QUINTALIS_HEADLESS is not "1". Otherwise it runs headless and never
// touches the toolkit.
bool desktopSession(const HostEnvironment& host);

}  // namespace quintalis
