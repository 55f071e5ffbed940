#pragma once

#include <optional>
#include <string>

#include "base/clock.h"
#include "base/json.h"

namespace quintalis {

// One HTTP answer, whatever its status.
struct HTTPAnswer {
    long status = 0;
    std::string body;
};

// GET of the URL with the program's one HTTP client, blocking the calling
// thread for at most `timeout`; nothing when no HTTP answer came (refused,
// timed out, not HTTP, or a body past its cap). Any thread may call.
std::optional<HTTPAnswer> httpGet(const std::string& url, Duration timeout);

// The body of the GET parsed as a JSON object; nothing on a transport
// error or when the body is anything else.
std::optional<JSON> getJSON(const std::string& url, Duration timeout = seconds(1.5));

// The service's base URL followed by the path, with one "/" between them.
std::string joinURL(const std::string& base, const std::string& path);

}  // namespace quintalis
