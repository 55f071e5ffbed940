#pragma once

#include <string>
#include <vector>

namespace quintalis {

// The process's roles, chosen by the first argument: "--version",
// "--render-steps", a command word, or (anything else) the app itself.
// Returns the exit status; the caller ends the process with it.
int runEntry(const std::vector<std::string>& arguments);

}  // namespace quintalis
