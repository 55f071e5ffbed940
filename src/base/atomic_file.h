#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
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

// Renames a file that cannot be read or parsed to
// "<file>.corrupt-<UTC time>" ("20260131T090507Z", then "-2", "-3"... when
// taken), where a person can still recover it and the next write does not
// destroy it. Returns where it went, or nothing with `error` set.
std::optional<std::filesystem::path> moveAsideCorrupt(const std::filesystem::path& file, int64_t wallMillis,
                                                      std::error_code& error);

}  // namespace quintalis
