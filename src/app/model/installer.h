#pragma once

#include <functional>
#include <string>

#include "base/main_thread.h"
#include "base/outcome.h"
#include "platform/child_processes.h"
#include "platform/program_installation.h"

namespace quintalis {

// Installing the app for the user and starting it again. Both end this
// process through `quit` on the main thread: the new copy takes over the
// ports and the settings. moveToApplications blocks while it copies; any
// thread may call either.
class Installer {
public:
    Installer(ProgramInstallation& installation, ChildProcesses& processes, MainThread& mainThread,
              std::function<void()> quit);

    // True when the program runs from the user's installed copy or from a
    // system package: the wizard then offers no installing.
    bool isInApplications() const { return installation_.runsInstalled(); }
    // Installs the running program, starts the installed copy once this
    // process has ended, and quits half a second later. On failure nothing
    // was started, and the message is for the user.
    Outcome moveToApplications();
    // Starts this program again after the delay, and quits now.
    void relaunch(double afterSeconds);

private:
    ProgramInstallation& installation_;
    ChildProcesses& processes_;
    MainThread& mainThread_;
    std::function<void()> quit_;
};

// The program that AI clients and the desktop should start: the running
// one when it is installed, else the user's installed copy when there is
// one, else the running one.
std::filesystem::path cliPath(const ProgramInstallation& installation);

// The shortest decimal text that reads back as the same number ("1.5", "0.2").
std::string shortestDecimal(double value);

}  // namespace quintalis
