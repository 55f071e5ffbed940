#pragma once

#include <string>
#include <vector>

namespace quintalis {

// `install-udev-rule [--path FILE]`: writes the rule that lets the logged-in
// user open iPhones on USB, then asks udev to apply it to phones already
// plugged in. Says what it writes; needs root for the system's rules folder.
void installUdevRuleCommand(const std::vector<std::string>& args);

}  // namespace quintalis
