#include "phones/pairings_store.h"

#include "base/atomic_file.h"
#include "base/json.h"
#include "base/read_file.h"

namespace quintalis {

Pairings parsePairings(const std::string& text) {
    Pairings pairings;
    auto parsed = parseJSON(text);
    if (!parsed || !parsed->is_object()) return pairings;
    for (const auto& [screen, value] : parsed->items()) {
        // A value that is not a string spoils the whole file; a string that is
        // not a UUID only its own member.
        if (!value.is_string()) return {};
        if (auto host = UUID::parse(value.get<std::string>())) pairings[screen] = *host;
    }
    return pairings;
}

Pairings loadPairings(const std::filesystem::path& file) {
    auto text = readFile(file);
    if (!text) return {};
    return parsePairings(*text);
}

std::string formatPairings(const Pairings& pairings) {
    JSON object = JSON::object();
    for (const auto& [screen, host] : pairings) object[screen] = host.string();
    return object.dump(2, ' ', false, JSON::error_handler_t::replace) + "\n";
}

bool savePairings(const std::filesystem::path& file, const Pairings& pairings) {
    return writeFileAtomically(file, formatPairings(pairings));
}

void assignHost(Pairings& pairings, const std::string& screenID, const UUID& host) {
    for (auto it = pairings.begin(); it != pairings.end();) {
        it = it->second == host ? pairings.erase(it) : std::next(it);
    }
    pairings[screenID] = host;
}

}  // namespace quintalis
