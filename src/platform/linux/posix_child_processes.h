#pragma once

#include "platform/child_processes.h"

namespace quintalis {

// Children through posix_spawn. A started program is reaped by a thread of
// its own ("quintalis.reaper") so that it leaves no zombie behind.
class PosixChildProcesses final : public ChildProcesses {
public:
    // `grace` is how long a timed-out program has to quit before it is killed;
    // `clock` measures both it and the time-out.
    explicit PosixChildProcesses(Duration grace = std::chrono::seconds(2), Clock& clock = Clock::real());

    ToolRun run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                Duration timeout) override;
    Outcome start(const std::filesystem::path& executable,
                                     const std::vector<std::string>& arguments) override;

private:
    Duration grace_;
    Clock& clock_;
};

}  // namespace quintalis
