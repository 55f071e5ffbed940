#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quintalis {

// A process's name as its program file is called, from its folder under
// /proc. The kernel keeps the name (comm) to 15 bytes, so a name that long
// may have been cut: the program's file, or where that may not be read its
// first argument, gives the whole of it when it begins with the cut name.
// Every reader of a process's name goes through here, so one process never
// has two names. Nothing when the process is gone. Blocks for a few reads.
std::optional<std::string> processName(const std::filesystem::path& processFolder);

}  // namespace quintalis
