#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "platform/running_programs.h"

namespace quintalis {

// A port this process's engine wants, and the variable that moves it.
struct WantedPort {
    uint16_t port = 0;
    const char* variable = "";  // "QUINTALIS_ENGINE_PORT"
};

// What tells a copy of Quintalis from any other program on those ports: it
// runs one of this program's files, or its port's GET /status names
// Quintalis or its mirror.
struct QuintalisSigns {
    std::vector<std::filesystem::path> executables;  // the running and the installed copy
    // The name a port's /status reply gives, as whoAnswers does.
    std::function<std::optional<std::string>(uint16_t port)> whoAnswers;
};

struct OtherEngines {
    std::vector<std::string> quit;       // the copies of Quintalis asked to quit
    std::vector<std::string> strangers;  // one line for each other holder of a port, with the way out
};

// Asks the copies of Quintalis of this user that hold one of the ports to
// quit, so that this process's engine can take them after a relaunch; any
// still running 2 s later is killed. Every other program is left alone and
// named instead ("Port 7390 is used by python3 (pid 13419). …"): a server
// of the user's own on the same port is no engine to end. Blocks up to
// those 2 s and the ports' /status requests; call it off the main thread.
OtherEngines quitOtherEngines(RunningPrograms& programs, Clock& clock, const std::vector<WantedPort>& ports,
                              const QuintalisSigns& signs);

// "Port 7390 is used by python3 (pid 13419). Quit that program, or start
// Quintalis with QUINTALIS_ENGINE_PORT set to a free port."; "another
// program" when the holder is not known.
std::string heldPortLine(const WantedPort& wanted, const std::optional<RunningProgram>& holder);

// What the setup window says after a switch: the strangers' lines, then
// "Quit <names>. Reopening Quintalis…", or "Nothing to quit." when there
// was neither.
std::string switchReport(const OtherEngines& outcome);

}  // namespace quintalis
