#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/json.h"

namespace quintalis {

// Helpers shared by the command-line commands. Commands run on the main thread.

// Prints compact JSON and a line feed on standard output.
void out(const JSON& value);
// The entry after the first occurrence of `name`; nothing when absent or last.
std::optional<std::string> option(const std::vector<std::string>& args, const std::string& name);
// Prints the message and a line feed on standard error and ends the process with status 1.
[[noreturn]] void fail(const std::string& message);

}  // namespace quintalis
