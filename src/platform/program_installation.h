#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "base/outcome.h"

namespace quintalis {

// Where this program runs from, and installing it for the user so that the
// desktop and AI clients find it at a fixed place. Blocking file
// operations; call them off the main thread where they copy.
class ProgramInstallation {
public:
    virtual ~ProgramInstallation() = default;

    // The program file this process runs.
    virtual std::filesystem::path runningProgram() const = 0;
    // Where an installed copy lives.
    virtual std::filesystem::path installedProgram() const = 0;
    // True when this process runs from an installed copy (the user's or the
    // system's), which stays where it is.
    virtual bool runsInstalled() const = 0;
    // True when a removable disk or other mount carries the running program.
    virtual bool runsFromRemovableMedia() const = 0;

    // Moves an installed copy, if any, to the trash; no copy is no failure.
    virtual Outcome trashInstalledCopy() = 0;
    // Copies the running program and its data files to the installed place
    // and makes the desktop list it.
    virtual Outcome copyRunningProgram() = 0;
};

}  // namespace quintalis
