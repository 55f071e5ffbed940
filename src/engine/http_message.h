#pragma once

#include <map>
#include <string>

#include "base/json.h"

namespace quintalis {

// One request as the route table sees it.
struct HTTPRequest {
    std::string method;  // as sent: GET and get differ
    std::string path;    // percent-decoded
    std::map<std::string, std::string> query;  // last duplicate wins; "flag" alone is ""
    JSON body = JSON::object();  // always an object; empty when absent or not an object
};

struct HTTPResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::map<std::string, std::string> headers;  // extra header lines
    std::string body;

    static HTTPResponse json(const JSON& value, int status = 200);
    static HTTPResponse error(const std::string& message, int status = 400);
};

// The bytes sent for a response: status line, Content-Type, Content-Length,
// "Connection: close", the extra headers, a blank line and the body.
std::string serializeResponse(const HTTPResponse& response);

// "OK", "Bad Request", "Not Found", "Service Unavailable", else "Error".
const char* reasonPhrase(int status);

}  // namespace quintalis
