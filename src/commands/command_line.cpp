#include "commands/command_line.h"

#include <algorithm>
#include <iostream>

#include "base/text.h"

namespace quintalis {

void out(const JSON& value) { std::cout << serializeJSON(value) << "\n" << std::flush; }

std::optional<std::string> option(const std::vector<std::string>& args, const std::string& name) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != name) continue;
        if (i + 1 < args.size()) return args[i + 1];
        return std::nullopt;
    }
    return std::nullopt;
}

void fail(const std::string& message) { throw CommandFailure(message); }

Duration waitSeconds(const std::optional<std::string>& text, double fallback) {
    // A day: far beyond any wait a person asks for.
    constexpr double kLongestWaitSeconds = 86400;
    double value = fallback;
    if (text) value = parseNumber(*text).value_or(fallback);
    return seconds(std::clamp(value, 0.0, kLongestWaitSeconds));
}

bool waitFor(Clock& clock, Duration timeout, const std::function<bool()>& condition, Duration step) {
    const auto deadline = clock.now() + timeout;
    for (auto now = clock.now(); now < deadline; now = clock.now()) {
        if (condition()) return true;
        clock.sleep(std::min(step, deadline - now));
    }
    return condition();
}

}  // namespace quintalis
