#pragma once

#include <string>
#include <vector>

namespace quintalis {

class Services;

// `quintalis airplay-serve [--port N] [--window ID]`: the AirPlay capture
// service on its own, with its capture kept warm, until a client asks for
// "/quit"; returns the exit status.
int airplayServeCommand(const std::vector<std::string>& args, Services& services);

}  // namespace quintalis
