#include "engine/routes.h"

#include <climits>

#include "base/text.h"
#include "engine/actions.h"
#include "engine/engine.h"

namespace quintalis {
namespace {

JSON uuidList(const std::vector<UUID>& hosts) {
    JSON list = JSON::array();
    for (const auto& host : hosts) list.push_back(host.string());
    return list;
}

// A decimal integer with an optional sign; nothing when absent, empty or not a number.
std::optional<int> queryInteger(const HTTPRequest& request, const std::string& name) {
    auto found = request.query.find(name);
    int64_t value = 0;
    if (found == request.query.end() || parseDecimal(found->second, value) != DecimalParse::ok) return std::nullopt;
    // A limit beyond any picture only means "no limit"; keep it in range.
    return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

std::string valueAsText(const JSON& value) {
    return value.is_string() ? value.get<std::string>() : serializeJSON(value);
}

}  // namespace

std::optional<std::string> deviceParameter(const HTTPRequest& request) {
    if (auto member = request.body.find("device"); member != request.body.end() && member->is_string()) {
        return member->get<std::string>();
    }
    if (auto item = request.query.find("device"); item != request.query.end()) return item->second;
    return std::nullopt;
}

Routes::Routes(HIDPeripheral& peripheral, Devices& devices, Clock& clock)
    : peripheral_(peripheral), devices_(devices), clock_(clock) {}

const std::set<std::string>& Routes::actions() { return Engine::actions(); }

HTTPResponse Routes::handle(const HTTPRequest& request) const {
    try {
        return route(request);
    } catch (const std::exception& error) {
        return HTTPResponse::error(error.what());
    }
}

HTTPResponse Routes::route(const HTTPRequest& request) const {
    const auto& method = request.method;
    const auto& path = request.path;
    if (method == "GET" && (path == "/" || path == "/status")) return HTTPResponse::json(status());
    if (method == "GET" && path == "/devices") return HTTPResponse::json(JSON{{"devices", deviceList()}});
    if (method == "POST" && path == "/match") return match(request);
    if (method == "POST" && path == "/pair") return pair(request);
    if (method == "GET" && path == "/screenshot") return screenshot(request);
    if (method == "GET" && path == "/wait") return waitForStill(request);
    if (method == "POST" && actions().count(path)) return action(request);
    return HTTPResponse::error("not found", 404);
}

JSON Routes::deviceList() const { return deviceList(devices_.all()); }

JSON Routes::deviceList(const std::vector<Device>& devices) {
    JSON list = JSON::array();
    for (const auto& device : devices) list.push_back(device.json());
    return list;
}

JSON Routes::status() const {
    auto hosts = peripheral_.connectedHosts();
    auto devices = devices_.all();
    return JSON{
        {"bluetooth", peripheral_.state()},
        {"devices", deviceList(devices)},
        {"hostInput", true},
        {"hosts", uuidList(hosts)},
        {"unmatchedHosts", uuidList(Devices::unmatchedAmong(devices, hosts))},
    };
}

HTTPResponse Routes::match(const HTTPRequest& request) const {
    auto found = devices_.match(isTrue(request.body, "force"), isTrue(request.body, "probe"));
    JSON matched = JSON::object();
    for (const auto& [id, host] : found) matched[id] = host.string();
    return HTTPResponse::json(
        JSON{{"matched", matched}, {"devices", deviceList()}, {"unmatchedHosts", uuidList(devices_.unmatchedHosts())}});
}

HTTPResponse Routes::pair(const HTTPRequest& request) const {
    std::optional<UUID> host;
    if (auto member = request.body.find("host"); member != request.body.end() && member->is_string()) {
        host = UUID::parse(member->get<std::string>());
    }
    if (!host) return HTTPResponse::error("host is required (a UUID from unmatchedHosts)");
    devices_.pair(devices_.find(deviceParameter(request)), *host);
    return HTTPResponse::json(JSON{{"devices", deviceList()}});
}

HTTPResponse Routes::screenshot(const HTTPRequest& request) const {
    Device device = devices_.find(deviceParameter(request));
    bool png = request.query.count("format") && request.query.at("format") == "png";
    auto maxWidth = queryInteger(request, "maxWidth");
    auto maxEdge = queryInteger(request, "maxEdge");
    if (maxWidth && *maxWidth <= 0) return HTTPResponse::error("maxWidth must be a positive number");
    if (maxEdge && *maxEdge <= 0) return HTTPResponse::error("maxEdge must be a positive number");
    auto snapshot = device.screen->snapshot(png, maxWidth, maxEdge);
    if (!snapshot) return HTTPResponse::error("no frame yet from " + device.screen->name() + ": unlock it", 503);
    HTTPResponse response;
    response.contentType = png ? "image/png" : "image/jpeg";
    response.headers = {
        {"X-Device", device.id()},
        {"X-Screen-Width", std::to_string(snapshot->frameSize.width)},
        {"X-Screen-Height", std::to_string(snapshot->frameSize.height)},
        {"X-Image-Width", std::to_string(snapshot->imageSize.width)},
        {"X-Image-Height", std::to_string(snapshot->imageSize.height)},
    };
    response.body = std::move(snapshot->bytes);
    return response;
}

HTTPResponse Routes::waitForStill(const HTTPRequest& request) const {
    Device device = devices_.find(deviceParameter(request));
    const ScreenRef& screen = device.screen;
    if (!screen->changes(0)) return HTTPResponse::error("no frame yet from " + screen->name() + ": unlock it", 503);
    SettleRule rule = SettleRule::fromQuery(request.query, clock_.wallMillis());
    auto outcome = waitToSettle(clock_, rule, [&screen](int64_t since) {
        // Checked above: once a first frame has come, there is always a history.
        return screen->changes(since).value_or(ChangeReading{});
    });
    return HTTPResponse::json(outcome.json());
}

std::optional<UUID> Routes::hostOnly(const HTTPRequest& request) const {
    auto hosts = peripheral_.connectedHosts();
    std::vector<std::string> candidates;
    auto hostMember = request.body.find("host");
    if (hostMember != request.body.end() && hostMember->is_string()) candidates.push_back(hostMember->get<std::string>());
    if (auto device = deviceParameter(request)) candidates.push_back(*device);
    for (const auto& candidate : candidates) {
        for (const auto& host : hosts) {
            if (equalsIgnoringCase(host.string(), candidate)) return host;
        }
    }
    if (hostMember != request.body.end()) {
        throw RouteError("no connected Bluetooth host " + valueAsText(*hostMember));
    }
    if (!devices_.all().empty()) return std::nullopt;
    if (hosts.empty()) {
        throw RouteError("no iPhone connected over Bluetooth and no screen on USB: pair \"" + peripheral_.localName() +
                         "\" in its Bluetooth settings");
    }
    if (hosts.size() == 1) return hosts.front();
    throw RouteError(std::to_string(hosts.size()) +
                     " Bluetooth hosts are connected and no screen is on USB, pass host (one of /status hosts)");
}

HTTPResponse Routes::action(const HTTPRequest& request) const {
    if (auto host = hostOnly(request)) {
        return perform(request.path, request.body, *devices_.input(*host), std::nullopt, host->string());
    }
    Device device = devices_.find(deviceParameter(request));
    auto input = devices_.input(device);
    return perform(request.path, request.body, *input, device, device.id());
}

}  // namespace quintalis
