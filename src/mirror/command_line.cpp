#include "mirror/command_line.h"

#include <charconv>
#include <cmath>
#include <iostream>

#include "base/exit_process.h"

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

void fail(const std::string& message) {
    std::cout << std::flush;
    std::cerr << message << "\n" << std::flush;
    exitProcess(1);
}

std::optional<double> parseNumber(const std::string& text) {
    std::string_view digits = text;
    if (digits.starts_with('+')) {
        digits.remove_prefix(1);
        if (digits.starts_with('-')) return std::nullopt;
    }
    double value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value)) return std::nullopt;
    return value;
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
