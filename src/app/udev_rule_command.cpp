#include "app/udev_rule_command.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "base/atomic_file.h"
#include "commands/command_line.h"
#include "platform/linux/usb/udev_rule.h"

namespace quintalis {

void installUdevRuleCommand(const std::vector<std::string>& args) {
    const std::filesystem::path path = option(args, "--path").value_or(kUdevRulePath.string());
    std::cout << "writing " << path.string() << ":\n" << udevRuleText() << std::flush;
    std::error_code error;
    if (!writeFileAtomically(path, udevRuleText(), error)) {
        if (geteuid() != 0 && error == std::errc::permission_denied) {
            fail("cannot write " + path.string() + ": it needs root, so run `sudo quintalis install-udev-rule`");
        }
        fail("cannot write " + path.string() + ": " + error.message());
    }
    if (path == kUdevRulePath) {
        // Phones already plugged in get the rule now, not at their next plug.
        int reloaded = std::system("udevadm control --reload-rules && udevadm trigger --subsystem-match=usb --attr-match=idVendor=05ac");
        if (reloaded != 0) {
            std::cout << "udev did not reload its rules; unplug the iPhone and plug it in again" << std::endl;
            return;
        }
    }
    std::cout << "done: unplug the iPhone and plug it in again if it was plugged in" << std::endl;
}

}  // namespace quintalis
