#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/http_server.h"
#include "mirror/airplay_server.h"

namespace quintalis {

// The longest request head, blank line included, that the AirPlay capture
// service reads: its clients send a request line and a few headers.
inline constexpr size_t kAirPlayMaxHead = 65536;

// The AirPlay capture service's answers on the wire: the reason "OK" for
// 200 and "Error" for anything else; then Content-Type, Content-Length,
// Cache-Control: no-store for pictures, and Connection: close, nothing else.
// A JSON error of the server itself ({"error": …}, such as the refusal of a
// web page) gains "ok": false, as the service's own errors have it.
std::string serializeAirPlayResponse(const HTTPResponse& response);

// Serves the handler on 127.0.0.1:port with the engine's HTTP server, in the
// service's own dialect: request bodies are never read, a head past
// kAirPlayMaxHead closes the connection, and web pages are refused as the
// engine refuses them. Requests run in parallel on the server's queue.
// Throws std::system_error when the port cannot be bound.
std::unique_ptr<HTTPServer> serveHTTP(uint16_t port, AirPlayHandler handler);

}  // namespace quintalis
