#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/cancellation.h"
#include "base/clock.h"

namespace quintalis {

// An HTTP request that got no answer at all; the text says why.
class Unreachable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct HTTPReply {
    long status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

// The one HTTP/1.1 client of the program, for its loopback services: one
// connection per request, never through a proxy (the services live on this
// computer). Any status is an answer; only a failure to get one throws
// Unreachable, and so does a body past kMaxHTTPBody, which no service of
// ours sends. `timeout` bounds the whole request; one below a millisecond
// still allows one, as libcurl takes zero for no limit at all. A cancel
// closes the connection at once and throws Cancelled: the service sees its
// client go, as when a client dies. Safe to use from several threads at once.
inline constexpr size_t kMaxHTTPBody = size_t{64} << 20;

class HTTPClient {
public:
    HTTPClient();

    HTTPReply get(const std::string& url, Duration timeout, const Cancellation& stop = Cancellation::never());
    // POSTs a JSON body.
    HTTPReply post(const std::string& url, const std::string& json, Duration timeout,
                   const Cancellation& stop = Cancellation::never());
};

// The URL of a service of this computer's on `port`: "http://127.0.0.1:PORT".
std::string loopbackURL(uint16_t port);

// Text made safe for a URL's query: everything but letters, digits and
// "-._~" percent-encoded.
std::string percentEncoded(std::string_view text);

}  // namespace quintalis
