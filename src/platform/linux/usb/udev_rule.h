#pragma once

#include <filesystem>
#include <string>

namespace quintalis {

// Where the rule goes: before systemd's seat rules (73), which turn the
// uaccess tag into an ACL for the logged-in user.
inline const std::filesystem::path kUdevRulePath = "/etc/udev/rules.d/70-quintalis-iphone.rules";

// The rule that lets the user at the seat open Apple's iPhones and iPads
// (the product ids usbmuxd's own rule matches), so capture needs no root.
std::string udevRuleText();

}  // namespace quintalis
