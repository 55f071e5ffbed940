#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/outcome.h"
#include "base/uuid.h"

namespace quintalis {

// Which host each screen belongs to: screen id to host UUID.
using Pairings = std::map<std::string, UUID>;

// The pairings file: one JSON object whose members are screen ids and whose
// values are host UUID strings.
struct ParsedPairings {
    Pairings pairings;
    std::vector<std::string> dropped;  // one line for each member left out
};
// The members whose values are host UUID strings, the others described in
// `dropped`; nothing when the text is not a JSON object.
std::optional<ParsedPairings> parsePairings(const std::string& text);
// Reads the file as the registry starts: temporaries of a writer killed
// halfway are removed; a file that cannot be read or parsed is moved aside
// to "<file>.corrupt-<UTC time>", so the next write does not destroy it; and
// each of these is logged, as are the first `kLeftOutLinesShown` members
// left out (and how many more there were).
constexpr size_t kLeftOutLinesShown = 10;
Pairings loadPairings(const std::filesystem::path& file, int64_t wallMillis);
std::string formatPairings(const Pairings& pairings);
// Replaces the file atomically. When it could not be written, says so and
// why ("could not write <file>: <reason>"), and leaves the old file whole.
Outcome savePairings(const std::filesystem::path& file, const Pairings& pairings);

// Records that `host` belongs to `screenID`: the host leaves any other screen.
void assignHost(Pairings& pairings, const std::string& screenID, const UUID& host);

}  // namespace quintalis
