#include "app/model/installer.h"

#include <unistd.h>

#include <charconv>

#include "base/log.h"

namespace quintalis {
namespace {

constexpr auto kQuitDelay = std::chrono::milliseconds(500);

Outcome failure(const std::string& reason) {
    return Outcome::failure("Couldn't install (" + reason + "). Copy quintalis into ~/.local/bin by hand instead.");
}

}  // namespace

std::string shortestDecimal(double value) {
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::filesystem::path cliPath(const ProgramInstallation& installation) {
    if (installation.runsInstalled()) return installation.runningProgram();
    auto installed = installation.installedProgram();
    std::error_code error;
    if (std::filesystem::is_regular_file(installed, error) && ::access(installed.c_str(), X_OK) == 0) return installed;
    return installation.runningProgram();
}

Installer::Installer(ProgramInstallation& installation, ChildProcesses& processes, MainThread& mainThread,
                     std::function<void()> quit)
    : installation_(installation), processes_(processes), mainThread_(mainThread), quit_(std::move(quit)) {}

Outcome Installer::moveToApplications() {
    auto source = installation_.runningProgram();
    // Trashing the installed copy would take the running program with it.
    if (installation_.runsInstalled()) return failure("it already runs from " + source.string());
    if (installation_.runsFromRemovableMedia()) log("installer: moving from " + source.string());
    if (auto trashed = installation_.trashInstalledCopy(); !trashed.ok()) return failure(trashed.message());
    if (auto copied = installation_.copyRunningProgram(); !copied.ok()) return failure(copied.message());
    // The new copy must not start while this one still holds the ports: it
    // would take this engine for another one and use it, and be left with
    // none once this process has quit.
    std::string waitForThisProcess =
        "while kill -0 " + std::to_string(::getpid()) + " 2>/dev/null; do sleep 0.1; done; exec \"$0\"";
    auto opened = processes_.start("/bin/sh", {"-c", waitForThisProcess, installation_.installedProgram().string()});
    if (!opened.ok()) log("installer: open failed: " + opened.message());
    mainThread_.postAfter(kQuitDelay, quit_);
    return Outcome::success();
}

void Installer::relaunch(double afterSeconds) {
    std::string command = "sleep " + shortestDecimal(afterSeconds) + "; exec \"$0\"";
    // Nothing to tell the user if the shell cannot start: the app just quits.
    (void)processes_.start("/bin/sh", {"-c", command, installation_.runningProgram().string()});
    mainThread_.post(quit_);
}

}  // namespace quintalis
