#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "base/uuid.h"

namespace quintalis {

// Which host each screen belongs to: screen id to host UUID.
using Pairings = std::map<std::string, UUID>;

// The pairings file: one JSON object whose members are screen ids and whose
// values are host UUID strings. Anything else reads as no pairings, and a
// member whose value is not a UUID string is left out.
Pairings parsePairings(const std::string& text);
Pairings loadPairings(const std::filesystem::path& file);
std::string formatPairings(const Pairings& pairings);
// Replaces the file atomically; false when it could not be written.
bool savePairings(const std::filesystem::path& file, const Pairings& pairings);

// Records that `host` belongs to `screenID`: the host leaves any other screen.
void assignHost(Pairings& pairings, const std::string& screenID, const UUID& host);

}  // namespace quintalis
