#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/clock.h"

namespace quintalis::mcp {

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

// A plain HTTP/1.1 client for the loopback APIs: one connection per request,
// never through a proxy. Any status is an answer; only a failure to get one
// throws Unreachable. Safe to use from several threads at once.
class HTTPClient {
public:
    HTTPClient();

    HTTPReply get(const std::string& url, Duration timeout);
    // POSTs a JSON body.
    HTTPReply post(const std::string& url, const std::string& json, Duration timeout);
};

// Text made safe for a URL's query: everything but letters, digits and
// "-._~" percent-encoded.
std::string percentEncoded(std::string_view text);

}  // namespace quintalis::mcp
