#include <cstddef>
#include <cstdint>
#include <string>

#include "base/json.h"
#include "base/log.h"
#include "phones/pairings_store.h"

// A pairings file, whatever its bytes (anyone can edit it, and a crash while
// reading it would recur at every start): reading it never fails; what it
// keeps is only screens with host UUIDs, which read back the same once
// written; and every member it leaves out is told in one short line.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        quintalis::setLogSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    const std::string text(reinterpret_cast<const char*>(data), size);
    auto parsed = quintalis::parsePairings(text);
    if (!parsed) return 0;
    auto again = quintalis::parsePairings(quintalis::formatPairings(parsed->pairings));
    if (!again || again->pairings != parsed->pairings || !again->dropped.empty()) __builtin_trap();
    for (const auto& line : parsed->dropped) {
        if (line.size() > 3 * quintalis::kLoggedValueLimit || line.find('\n') != std::string::npos) __builtin_trap();
    }
    return 0;
}
