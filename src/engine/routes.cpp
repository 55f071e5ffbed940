#include "engine/routes.h"

namespace quintalis {
namespace {

Json uuidList(const std::vector<Uuid>& hosts) {
    Json list = Json::array();
    for (const auto& host : hosts) list.push_back(host.string());
    return list;
}

}  // namespace

Routes::Routes(HIDPeripheral& peripheral, Devices& devices) : peripheral_(peripheral), devices_(devices) {}

Json Routes::status() const {
    Json devices = Json::array();
    for (const auto& device : devices_.all()) devices.push_back(device.json());
    return Json{
        {"bluetooth", peripheral_.state()},
        {"devices", devices},
        {"hostInput", true},
        {"hosts", uuidList(peripheral_.connectedHosts())},
        {"unmatchedHosts", uuidList(devices_.unmatchedHosts())},
    };
}

HTTPResponse Routes::handle(const HTTPRequest& request) const {
    if (request.method == "GET" && (request.path == "/" || request.path == "/status")) {
        return HTTPResponse::json(status());
    }
    return HTTPResponse::error("not found", 404);
}

}  // namespace quintalis
