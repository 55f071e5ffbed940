#pragma once

#include <string>

namespace quintalis {

// Names the calling thread after a queue label, so debuggers and `top -H`
// show which queue a thread serves. Linux keeps the first 15 bytes.
void nameCurrentThread(const std::string& label);

}  // namespace quintalis
