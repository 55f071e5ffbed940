#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/http_request_parser.h"

// Feeds the input in two pieces, cut where its first byte says, so both the
// parser's answers and its resumption after "need more" are exercised.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t cut = bytes.empty() ? 0 : data[0] % (bytes.size() + 1);
    quintalis::HTTPRequestParser parser;
    auto first = parser.feed(bytes.substr(0, cut));
    if (first.status != quintalis::HTTPRequestParser::Status::needMore) return 0;
    auto second = parser.feed(bytes.substr(cut));
    if (second.status == quintalis::HTTPRequestParser::Status::complete) {
        // The request must be whole: an object body and a path.
        if (!parser.request().body.is_object()) __builtin_trap();
    }
    return 0;
}
