#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quintalis {

// The whole contents of a file, byte for byte; nothing when it cannot be
// opened or read.
std::optional<std::string> readFile(const std::filesystem::path& file);

}  // namespace quintalis
