#include "phones/pairings_store.h"

#include <algorithm>

#include "base/atomic_file.h"
#include "base/json.h"
#include "base/log.h"
#include "base/read_file.h"

namespace quintalis {

namespace {

// Keeps what could not be read where a person can still recover it.
void moveAside(const std::filesystem::path& file, const std::string& reason, int64_t wallMillis) {
    std::error_code error;
    auto aside = moveAsideCorrupt(file, wallMillis, error);
    if (!aside) {
        log("pairings: " + file.string() + " can't be read (" + reason + ") nor moved aside (" + error.message() + ")");
    } else {
        log("pairings: " + file.string() + " can't be read (" + reason + "); moved it to " + aside->string());
    }
}

}  // namespace

std::optional<ParsedPairings> parsePairings(const std::string& text) {
    auto parsed = parseJSON(text);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    ParsedPairings result;
    for (const auto& [screen, value] : parsed->items()) {
        std::optional<UUID> host;
        if (value.is_string()) host = UUID::parse(value.get<std::string>());
        if (host) {
            result.pairings[screen] = *host;
        } else {
            // The file is anyone's to edit: what it holds is shown short.
            result.dropped.push_back("\"" + loggable(screen) + "\": " + loggable(serializeJSON(value)) +
                                     " is not a host UUID");
        }
    }
    return result;
}

Pairings loadPairings(const std::filesystem::path& file, int64_t wallMillis) {
    for (const auto& leftover : removeAbandonedTemporaries(file)) {
        log("pairings: removed " + leftover.string() + ", left by an interrupted write");
    }
    std::error_code error;
    auto text = readFile(file, error);
    if (!text) {
        if (error != std::errc::no_such_file_or_directory) moveAside(file, error.message(), wallMillis);
        return {};
    }
    auto parsed = parsePairings(*text);
    if (!parsed) {
        auto read = readJSON(*text);
        moveAside(file, read.tooDeep ? kJSONTooDeep : read.value ? "not a JSON object" : "not valid JSON", wallMillis);
        return {};
    }
    // A file of many bad members says so in a few lines, not one each.
    const size_t shown = std::min(parsed->dropped.size(), kLeftOutLinesShown);
    for (size_t i = 0; i < shown; ++i) log("pairings: left out " + parsed->dropped[i]);
    if (parsed->dropped.size() > shown) {
        log("pairings: left out " + std::to_string(parsed->dropped.size() - shown) + " more members");
    }
    return parsed->pairings;
}

std::string formatPairings(const Pairings& pairings) {
    JSON object = JSON::object();
    for (const auto& [screen, host] : pairings) object[screen] = host.string();
    return object.dump(2, ' ', false, JSON::error_handler_t::replace) + "\n";
}

Outcome savePairings(const std::filesystem::path& file, const Pairings& pairings) {
    std::error_code error;
    if (writeFileAtomically(file, formatPairings(pairings), error)) return Outcome::success();
    return Outcome::failure("could not write " + file.string() + ": " + error.message());
}

void assignHost(Pairings& pairings, const std::string& screenID, const UUID& host) {
    for (auto it = pairings.begin(); it != pairings.end();) {
        it = it->second == host ? pairings.erase(it) : std::next(it);
    }
    pairings[screenID] = host;
}

}  // namespace quintalis
