#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quintalis {

// Asks whoever answers HTTP on 127.0.0.1:port for GET /status and names it:
// the reply's "app" ("quintalis-mirror" reads "Quintalis Mirror"), else
// "another app": a reply without that member is nobody's engine, whatever
// else it holds.
// Nothing when no HTTP answer came. Blocks the caller for at most 1.2 s,
// even when a server accepts the connection and never answers.
std::optional<std::string> whoAnswers(uint16_t port);

// The name for a /status reply body, by the rule above.
std::string nameOfStatusReply(const std::string& body);

}  // namespace quintalis
