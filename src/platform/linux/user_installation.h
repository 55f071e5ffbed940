#pragma once

#include "platform/program_installation.h"

namespace quintalis {

// An installation for one user, without root: the program in
// ~/.local/bin/quintalis, its data files in $XDG_DATA_HOME/quintalis, and a
// desktop entry in $XDG_DATA_HOME/applications so that the desktop's
// launcher lists it. A copy in /usr/bin or /usr/local/bin (a system
// package) counts as installed too. An older copy goes to the user's trash
// (through GIO), where it can still be restored.
//
// The running program's data files are in share/quintalis beside the
// folder that holds it (build/share/quintalis for build/src/quintalis).
class UserInstallation final : public ProgramInstallation {
public:
    UserInstallation(std::filesystem::path runningProgram, std::filesystem::path home, std::filesystem::path dataHome);

    // The program this process runs, from /proc/self/exe.
    static std::filesystem::path thisProgram();

    std::filesystem::path runningProgram() const override { return running_; }
    std::filesystem::path installedProgram() const override;
    bool runsInstalled() const override;
    bool runsFromRemovableMedia() const override;
    Outcome trashInstalledCopy() override;
    Outcome copyRunningProgram() override;

    std::filesystem::path installedData() const;
    // The data files of the program this process runs: the installed ones
    // for the installed copy, wherever $XDG_DATA_HOME puts them, else
    // share/quintalis beside its folder.
    std::filesystem::path dataFiles() const;
    std::filesystem::path desktopEntry() const;

private:
    std::filesystem::path running_;
    std::filesystem::path home_;
    std::filesystem::path dataHome_;
};

}  // namespace quintalis
