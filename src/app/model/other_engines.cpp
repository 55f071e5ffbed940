#include "app/model/other_engines.h"

#include <algorithm>

#include "base/log.h"

namespace quintalis {
namespace {

constexpr auto kPatience = std::chrono::seconds(2);
constexpr auto kCheckEvery = std::chrono::milliseconds(50);

std::string described(const RunningProgram& program) {
    return program.name + " (pid " + std::to_string(program.pid) + ")";
}

}  // namespace

std::vector<std::string> quitOtherEngines(RunningPrograms& programs, Clock& clock, const std::vector<uint16_t>& ports) {
    auto found = programs.listeningOn(ports);
    std::vector<std::string> names;
    for (const auto& program : found) {
        names.push_back(program.name);
        log("engine: asking " + described(program) + " to quit");
        programs.terminate(program, false);
    }
    auto until = clock.now() + kPatience;
    auto running = [&programs](const RunningProgram& program) { return programs.isRunning(program); };
    while (std::any_of(found.begin(), found.end(), running) && clock.now() < until) clock.sleep(kCheckEvery);
    for (const auto& program : found) {
        if (!programs.isRunning(program)) continue;
        log("engine: " + described(program) + " did not quit; ending it");
        programs.terminate(program, true);
    }
    return names;
}

}  // namespace quintalis
