#pragma once

#include "engine/http_message.h"

namespace quintalis {

// The engine API's route table. Holds no state of its own; safe to call from
// many threads at once. Never throws: every failure becomes an error reply.
class Routes {
public:
    HTTPResponse handle(const HTTPRequest& request) const;

    // GET / and GET /status.
    Json status() const;
};

}  // namespace quintalis
