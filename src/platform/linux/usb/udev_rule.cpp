#include "platform/linux/usb/udev_rule.h"

namespace quintalis {

std::string udevRuleText() {
    return "# Written by `quintalis install-udev-rule`: lets the user logged in at this computer open\n"
           "# iPhones and iPads over USB, so Quintalis can show their screens without root.\n"
           "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"05ac\", "
           "ATTR{idProduct}==\"12[9a][0-9a-f]\", TAG+=\"uaccess\"\n";
}

}  // namespace quintalis
