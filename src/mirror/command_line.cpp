#include "mirror/command_line.h"

#include <cstdio>
#include <cstdlib>
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

}  // namespace quintalis
