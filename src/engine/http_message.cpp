#include "engine/http_message.h"

namespace quintalis {

HTTPResponse HTTPResponse::json(const JSON& value, int status) {
    HTTPResponse response;
    response.status = status;
    response.body = serializeJSON(value);
    return response;
}

HTTPResponse HTTPResponse::error(const std::string& message, int status) {
    return json(JSON{{"error", message}}, status);
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 503: return "Service Unavailable";
        default: return "Error";
    }
}

std::string serializeResponse(const HTTPResponse& response) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + reasonPhrase(response.status) + "\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    head += "Connection: close\r\n";
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    head += "\r\n";
    return head + response.body;
}

}  // namespace quintalis
