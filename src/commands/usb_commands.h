#pragma once

#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "commands/command_line.h"
#include "commands/frame_source.h"
#include "platform/capture_devices.h"
#include "platform/text_recognizer.h"

namespace quintalis {

// What the USB capture commands work with. They never start the engine:
// each command captures on its own, in its own process.
struct USBCommandBackends {
    CaptureDevices& devices;
    TextRecognizer& text;
    Clock& clock;
};

// The iPhones among the capture devices that are connected, in the system's order.
std::vector<CaptureDeviceInfo> iPhoneCaptureDevices(CaptureDevices& devices);

// The first iPhone, or the one `id` names by the one rule of phone names
// (phonesFitting), looking again every 0.1 s until `timeout` has passed.
// Throws CommandFailure when `id` fits several.
std::optional<CaptureDeviceInfo> findIPhone(CaptureDevices& devices, Clock& clock, const std::optional<std::string>& id,
                                            Duration timeout);

// Whether the camera (and so the phone's screen) may be captured; asks when
// nobody has been asked yet and waits up to 60 s for the answer.
bool ensureCameraAccess(CaptureDevices& devices, Clock& clock);

// The picture the arguments ask for: the file of "--image PATH", else the
// phone of "--device ID" (or the first phone), found and given its first
// frame within "--timeout S" seconds each (default 8). Throws
// CommandFailure when there is none to be had.
std::unique_ptr<FrameSource> openSource(const std::vector<std::string>& args, USBCommandBackends& backends);

// The commands, given the arguments after the command word. Each throws
// CommandFailure (through fail()) when it cannot do its work; usb-capture
// returns status 1 when the snapshot failed, and usb-serve returns when its
// input ends or says "quit".
void usbListCommand(const std::vector<std::string>& args, USBCommandBackends& backends);
int usbCaptureCommand(const std::vector<std::string>& args, Deferred<USBCommandBackends> backends);
int usbServeCommand(const std::vector<std::string>& args, USBCommandBackends& backends, std::istream& input);

}  // namespace quintalis
