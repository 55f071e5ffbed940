#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/outcome.h"

namespace quintalis {

// What a program printed and how it ended.
struct ToolRun {
    // Its exit status; the signal's number when a signal ended it; -1 when
    // it could not be started.
    int32_t status = 0;
    // Standard output and standard error as they came, interleaved; the
    // reason when it could not be started.
    std::string output;
};

// Starting other programs. Children get the environment and working folder
// of this process, standard input from the null device, and none of its
// other open files (its listening sockets above all). Any thread may call.
class ChildProcesses {
public:
    virtual ~ChildProcesses() = default;

    // Runs the program and blocks until it has exited, at most `timeout`.
    // A program still running then is asked to terminate (it and whatever it
    // started in its process group), and killed if it does not. Reading
    // ends once the program has exited or the time is up, even while a
    // program it left behind still holds its output open.
    virtual ToolRun run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                        Duration timeout) = 0;

    // Starts the program in a session of its own, so it outlives this
    // process, and returns at once: success when it started, else why not.
    virtual Outcome start(const std::filesystem::path& executable, const std::vector<std::string>& arguments) = 0;
};

}  // namespace quintalis
