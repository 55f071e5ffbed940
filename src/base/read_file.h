#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace quintalis {

// The whole contents of a file, byte for byte; nothing when it cannot be
// opened or read.
std::optional<std::string> readFile(const std::filesystem::path& file);
// The same, saying why when it fails (a folder in its place, no permission...).
std::optional<std::string> readFile(const std::filesystem::path& file, std::error_code& error);

}  // namespace quintalis
