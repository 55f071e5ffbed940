#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/json.h"

namespace quintalis {

// Helpers shared by the command-line commands. Commands run on the main thread.

// Prints compact JSON and a line feed on standard output.
void out(const JSON& value);
// The entry after the first occurrence of `name`; nothing when absent or last.
std::optional<std::string> option(const std::vector<std::string>& args, const std::string& name);
// Prints the message and a line feed on standard error and ends the process with status 1.
[[noreturn]] void fail(const std::string& message);

// Raised by work that commands share, so that each command can end with
// fail(what()) while the work itself stays testable.
class CommandFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Seconds a command waits, from an option's text: a number (parseNumber),
// else `fallback`; kept within [0, a day], so that any wait can be added to
// a time without overflowing it.
Duration waitSeconds(const std::optional<std::string>& text, double fallback);

// Evaluates `condition` until it holds or `timeout` has passed on `clock`,
// sleeping `step` between tries, then evaluates it once more. Returns its
// last value.
bool waitFor(Clock& clock, Duration timeout, const std::function<bool()>& condition,
             Duration step = std::chrono::milliseconds(100));

}  // namespace quintalis
