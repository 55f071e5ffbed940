#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/clock.h"
#include "platform/running_programs.h"

namespace quintalis {

// Asks the other programs of this user that hold the engine's or the
// AirPlay service's port to quit, so that this process's engine can take
// them after a relaunch; any still running 2 s later is killed. Returns
// their names ("Nothing to quit." is the caller's to say). Blocks up to
// those 2 s; call it off the main thread.
std::vector<std::string> quitOtherEngines(RunningPrograms& programs, Clock& clock, const std::vector<uint16_t>& ports);

}  // namespace quintalis
