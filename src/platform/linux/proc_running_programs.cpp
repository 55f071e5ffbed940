#include "platform/linux/proc_running_programs.h"

#include <signal.h>

namespace quintalis {

ProcRunningPrograms::ProcRunningPrograms(ProcTable table, uid_t user, pid_t self)
    : table_(std::move(table)), user_(user), self_(self) {}

std::vector<RunningProgram> ProcRunningPrograms::listeningOn(const std::vector<uint16_t>& ports) {
    auto sockets = table_.listeners(ports);
    std::vector<RunningProgram> found;
    if (sockets.empty()) return found;
    for (const auto& process : table_.processes()) {
        if (process.pid == self_ || process.uid != user_ || process.ended) continue;
        if (!table_.holdsAnyOf(process.pid, sockets)) continue;
        found.push_back({process.pid, process.name, table_.executable(process.pid)});
    }
    return found;
}

bool ProcRunningPrograms::isRunning(const RunningProgram& program) {
    // The name guards against a new process that was given the same pid.
    auto process = table_.process(program.pid);
    return process && !process->ended && process->name == program.name;
}

void ProcRunningPrograms::terminate(const RunningProgram& program, bool force) {
    if (!isRunning(program)) return;
    ::kill(program.pid, force ? SIGKILL : SIGTERM);
}

}  // namespace quintalis
