#pragma once

#include <string>
#include <vector>

namespace quintalis {

// Runs the command named by arguments[1] when it is one this program knows,
// and returns true; returns false for any other word, so the app starts.
bool mirrorCommand(const std::vector<std::string>& arguments);

}  // namespace quintalis
