#pragma once

#include <sys/types.h>
#include <unistd.h>

#include "platform/linux/proc_table.h"
#include "platform/running_programs.h"

namespace quintalis {

// This user's processes as /proc shows them, ended with signals.
class ProcRunningPrograms final : public RunningPrograms {
public:
    explicit ProcRunningPrograms(ProcTable table = ProcTable(), uid_t user = ::getuid(), pid_t self = ::getpid());

    std::vector<RunningProgram> listeningOn(const std::vector<uint16_t>& ports) override;
    bool isRunning(const RunningProgram& program) override;
    void terminate(const RunningProgram& program, bool force) override;

private:
    ProcTable table_;
    uid_t user_;
    pid_t self_;
};

}  // namespace quintalis
