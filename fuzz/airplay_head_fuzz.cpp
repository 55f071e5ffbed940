#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/airplay_service.h"
#include "engine/browser_gate.h"
#include "engine/http_server.h"

using quintalis::HTTPRequestParser;

namespace {

// The response must be one status line, headers, a blank line and exactly
// as many body bytes as Content-Length says.
void checkResponse(const quintalis::HTTPResponse& response) {
    std::string bytes = quintalis::serializeAirPlayResponse(response);
    size_t headEnd = bytes.find("\r\n\r\n");
    if (!bytes.starts_with("HTTP/1.1 ") || headEnd == std::string::npos) __builtin_trap();
    std::string_view head(bytes.data(), headEnd);
    size_t length = head.find("\r\nContent-Length: ");
    if (length == std::string_view::npos) __builtin_trap();
    size_t declared = std::stoul(std::string(head.substr(length + 18)));
    if (declared != bytes.size() - headEnd - 4) __builtin_trap();
}

}  // namespace

// The AirPlay capture service's request reader, fed as a socket would feed
// it: the first byte gives the size of each read (0: all at once), or, as
// 0xff, says that everything after the first line repeats until the longest
// head allowed is passed, so the limit is reached from short inputs. Such a
// head is read in pages, as a busy socket delivers it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool repeats = data[0] == 0xff;
    const size_t chunk = repeats ? 4096 : data[0];
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (repeats) {
        size_t lineEnd = bytes.find('\n');
        const std::string repeated = lineEnd == std::string::npos || lineEnd + 1 == bytes.size()
                                         ? bytes
                                         : bytes.substr(lineEnd + 1);
        while (bytes.size() <= quintalis::kAirPlayMaxHead) bytes += repeated;
    }
    HTTPRequestParser parser({.maxHead = quintalis::kAirPlayMaxHead, .readsBody = false});
    HTTPRequestParser::Result result;
    size_t fed = 0;
    while (fed < bytes.size() && result.status == HTTPRequestParser::Status::needMore) {
        size_t take = chunk == 0 ? bytes.size() - fed : std::min(chunk, bytes.size() - fed);
        result = parser.feed(std::string_view(bytes).substr(fed, take));
        fed += take;
    }
    switch (result.status) {
        case HTTPRequestParser::Status::needMore:
            // A head that cannot end within the limit must close the connection.
            if (fed > quintalis::kAirPlayMaxHead) __builtin_trap();
            break;
        case HTTPRequestParser::Status::invalid:
            if (result.reply) checkResponse(*result.reply);
            break;
        case HTTPRequestParser::Status::complete: {
            const auto& request = parser.request();
            if (!request.body.is_object()) __builtin_trap();
            if (quintalis::isBrowserRequest(parser.source())) {
                checkResponse(quintalis::HTTPResponse::error("refused", 403));
                break;
            }
            // What the service answers for a path it does not know.
            checkResponse(quintalis::HTTPResponse::json({{"ok", false}, {"error", "not found"}}, 404));
            checkResponse(quintalis::HTTPResponse::json({{"items", request.query.size()}}));
            break;
        }
    }
    return 0;
}
