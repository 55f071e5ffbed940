#include "app/model/other_engines.h"

#include <algorithm>
#include <set>

#include "base/log.h"

namespace quintalis {
namespace {

constexpr auto kPatience = std::chrono::seconds(2);
constexpr auto kCheckEvery = std::chrono::milliseconds(50);

std::string described(const RunningProgram& program) {
    return program.name + " (pid " + std::to_string(program.pid) + ")";
}

bool runsOurFile(const RunningProgram& program, const QuintalisSigns& signs) {
    if (program.executable.empty()) return false;
    return std::find(signs.executables.begin(), signs.executables.end(), program.executable) !=
           signs.executables.end();
}

bool answersAsQuintalis(uint16_t port, const QuintalisSigns& signs) {
    if (!signs.whoAnswers) return false;
    auto name = signs.whoAnswers(port);
    return name == "Quintalis" || name == "Quintalis Mirror";
}

}  // namespace

OtherEngines quitOtherEngines(RunningPrograms& programs, Clock& clock, const std::vector<WantedPort>& ports,
                              const QuintalisSigns& signs) {
    OtherEngines outcome;
    std::vector<RunningProgram> ours;
    std::set<int> seen;
    for (const auto& wanted : ports) {
        auto holders = programs.listeningOn({wanted.port});
        if (holders.empty()) continue;
        // Asked only when a file does not tell, since an answer may take a second.
        std::optional<bool> answered;
        for (const auto& program : holders) {
            if (!seen.insert(program.pid).second) continue;
            bool quintalis = runsOurFile(program, signs);
            if (!quintalis) {
                if (!answered) answered = answersAsQuintalis(wanted.port, signs);
                quintalis = *answered;
            }
            if (quintalis) {
                ours.push_back(program);
                continue;
            }
            log("engine: leaving " + described(program) + " on port " + std::to_string(wanted.port) +
                ": it is not Quintalis");
            outcome.strangers.push_back(heldPortLine(wanted, program));
        }
    }
    for (const auto& program : ours) {
        outcome.quit.push_back(program.name);
        log("engine: asking " + described(program) + " to quit");
        programs.terminate(program, false);
    }
    auto until = clock.now() + kPatience;
    auto running = [&programs](const RunningProgram& program) { return programs.isRunning(program); };
    while (std::any_of(ours.begin(), ours.end(), running) && clock.now() < until) clock.sleep(kCheckEvery);
    for (const auto& program : ours) {
        if (!programs.isRunning(program)) continue;
        log("engine: " + described(program) + " did not quit; ending it");
        programs.terminate(program, true);
    }
    return outcome;
}

std::string heldPortLine(const WantedPort& wanted, const std::optional<RunningProgram>& holder) {
    return "Port " + std::to_string(wanted.port) + " is used by " + (holder ? described(*holder) : "another program") +
           ". Quit that program, or start Quintalis with " + wanted.variable + " set to a free port.";
}

std::string switchReport(const OtherEngines& outcome) {
    std::string report;
    for (const auto& line : outcome.strangers) report += (report.empty() ? "" : " ") + line;
    if (!outcome.quit.empty()) {
        std::string names;
        for (const auto& name : outcome.quit) names += (names.empty() ? "" : ", ") + name;
        report += (report.empty() ? "" : " ") + std::string("Quit ") + names + ". Reopening Quintalis\u2026";
    }
    return report.empty() ? "Nothing to quit." : report;
}

}  // namespace quintalis
