#pragma once

#include <string>
#include <vector>

#include "commands/command_line.h"
#include "mirror/desktop_control.h"
#include "platform/capture_devices.h"
#include "platform/window_server.h"

namespace quintalis {

// The commands that look for the iPhone Mirroring window and drive the
// desktop with synthetic input, given the arguments after the command word.
// They print their answer on standard output; one that fails ends the
// process with status 1 and says why on standard error.
void findCommand(WindowServer& windows);
void clickCommand(const std::vector<std::string>& args, Deferred<DesktopControl> control);
void dragCommand(const std::vector<std::string>& args, Deferred<DesktopControl> control);
void typeCommand(const std::vector<std::string>& args, DesktopControl& control);
void keyCommand(const std::vector<std::string>& args, Deferred<DesktopControl> control);
[[noreturn]] void activateCommand();
// What this process may do: post input, capture windows, capture cameras.
void trustedCommand(SyntheticInput& input, WindowServer& windows, CaptureDevices& cameras);

}  // namespace quintalis
