#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace quintalis {

// Replaces `file` with `contents` so that a reader, or a crash at any moment,
// sees either the old file or the new one whole: the bytes go to a temporary
// file in the same folder, are flushed to disk, and the temporary is renamed
// over the target. Returns false (and leaves the old file) on any error.
bool writeFileAtomically(const std::filesystem::path& file, std::string_view contents);
// The same, saying why it failed.
bool writeFileAtomically(const std::filesystem::path& file, std::string_view contents, std::error_code& error);

// Removes the temporary files that writers which no longer run (killed
// halfway) left beside `file`, of it or of the copies named after it
// ("<file>.backup-…"), and returns them.
std::vector<std::filesystem::path> removeAbandonedTemporaries(const std::filesystem::path& file);

}  // namespace quintalis
