#pragma once

#include <string>
#include <vector>

namespace quintalis {

class Services;

// `quintalis mcp`: the phone tools for an AI client, over standard input and
// output until the client closes them. A client of the engine that answers
// on the engine port, or, when none does, of one this process starts.
void mcpCommand(const std::vector<std::string>& arguments, Services& services);

}  // namespace quintalis
