#include "engine/routes.h"

namespace quintalis {

Json Routes::status() const {
    return Json{
        {"bluetooth", "starting"},
        {"devices", Json::array()},
        {"hostInput", true},
        {"hosts", Json::array()},
        {"unmatchedHosts", Json::array()},
    };
}

HTTPResponse Routes::handle(const HTTPRequest& request) const {
    if (request.method == "GET" && (request.path == "/" || request.path == "/status")) {
        return HTTPResponse::json(status());
    }
    return HTTPResponse::error("not found", 404);
}

}  // namespace quintalis
