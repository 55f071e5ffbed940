#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quintalis {

struct RunningProgram {
    int pid = 0;
    std::string name;
    std::filesystem::path executable;  // the program file it runs; empty when that cannot be read
};

// Other programs of this user, such as another copy of Quintalis holding
// the ports this one wants. Any thread may call; calls may take a moment.
class RunningPrograms {
public:
    virtual ~RunningPrograms() = default;

    // This user's programs, other than this process, that listen on one of
    // the TCP ports; each once.
    virtual std::vector<RunningProgram> listeningOn(const std::vector<uint16_t>& ports) = 0;
    virtual bool isRunning(const RunningProgram& program) = 0;
    // Asks the program to quit, or with `force` ends it at once.
    virtual void terminate(const RunningProgram& program, bool force) = 0;
};

}  // namespace quintalis
