#include "engine/routes.h"

#include "base/log.h"
#include "base/max_edge.h"
#include "base/text.h"
#include "engine/actions.h"
#include "engine/engine.h"
#include "imaging/codecs.h"

namespace quintalis {
namespace {

JSON uuidList(const std::vector<UUID>& hosts) {
    JSON list = JSON::array();
    for (const auto& host : hosts) list.push_back(host.string());
    return list;
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

Routes::Routes(HIDPeripheral& peripheral, Devices& devices, Clock& clock, Options options)
    : peripheral_(peripheral),
      devices_(devices),
      clock_(clock),
      options_(std::move(options)),
      stillWaits_(clock, "quintalis.http.settle", options_.maxPendingWaits) {}

const std::set<std::string>& Routes::actions() { return Engine::actions(); }

void Routes::handle(const HTTPRequest& request, Responder responder) const {
    guarded(request, responder, [&] { route(request, responder); });
}

void Routes::guarded(const HTTPRequest& request, const Responder& responder, const std::function<void()>& work) {
    try {
        try {
            work();
        } catch (const RouteError& error) {
            responder.send(HTTPResponse::error(error.what()));
        } catch (const DeviceError& error) {
            responder.send(HTTPResponse::error(error.what()));
        } catch (const Input::InputError& error) {
            responder.send(HTTPResponse::error(error.what()));
        }
    } catch (const std::exception& error) {
        responder.failInternally(request, error.what());
    } catch (...) {
        responder.failInternally(request, "unknown exception");
    }
}

void Routes::route(const HTTPRequest& request, const Responder& responder) const {
    const auto& method = request.method;
    const auto& path = request.path;
    if (method == "GET" && (path == "/" || path == "/status")) return responder.send(HTTPResponse::json(status()));
    if (method == "GET" && path == "/devices") {
        return responder.send(HTTPResponse::json(JSON{{"devices", deviceList()}}));
    }
    if (method == "POST" && path == "/match") {
        return waits_.async([this, request, responder] {
            guarded(request, responder, [&] { responder.send(match(request)); });
        });
    }
    if (method == "POST" && path == "/pair") return responder.send(pair(request));
    if (method == "POST" && path == "/pairing") return responder.send(pairingWindow(request));
    if (method == "GET" && path == "/screenshot") return responder.send(screenshot(request));
    if (method == "GET" && path == "/wait") return waitForStill(request, responder);
    if (method == "POST" && actions().count(path)) return action(request, responder);
    responder.send(HTTPResponse::error("not found", 404));
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
        {"pairing", peripheral_.pairingSecondsLeft()},
        {"unmatchedHosts", uuidList(Devices::unmatchedAmong(devices, hosts))},
    };
}

// Opens (or with 0 seconds closes) the time in which a new phone may pair.
HTTPResponse Routes::pairingWindow(const HTTPRequest& request) const {
    constexpr double kDefaultSeconds = 120, kLongest = 600;
    double seconds = kDefaultSeconds;
    if (auto member = request.body.find("seconds"); member != request.body.end()) {
        if (!member->is_number() || member->get<double>() < 0 || member->get<double>() > kLongest) {
            return HTTPResponse::error("seconds must be a number from 0 to 600");
        }
        seconds = member->get<double>();
    }
    peripheral_.openPairingWindow(quintalis::seconds(seconds));
    JSON answer{{"name", peripheral_.localName()}, {"pairing", peripheral_.pairingSecondsLeft()}};
    // Once paired, the phone lists the computer by this name instead.
    if (auto shown = peripheral_.deviceName(); !shown.empty()) answer["shownAs"] = shown;
    return HTTPResponse::json(answer);
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
    // A limit that cannot be read is refused, as maxEdge's is: ignored, it
    // would hand back a full-size picture the caller then reads as smaller.
    std::optional<int> maxWidth;
    if (auto item = request.query.find("maxWidth"); item != request.query.end()) {
        maxWidth = maxEdgeFromText(item->second);
        if (!maxWidth) return HTTPResponse::error("maxWidth must be a positive number");
    }
    std::optional<int> maxEdge;
    if (auto item = request.query.find("maxEdge"); item != request.query.end()) {
        maxEdge = maxEdgeFromText(item->second);
        if (!maxEdge) return HTTPResponse::error(kMaxEdgeRule);
    }
    auto snapshot = device.screen->snapshot(png, maxWidth, maxEdge);
    if (!snapshot) return HTTPResponse::error("no frame yet from " + device.screen->name() + ": unlock it", 503);
    HTTPResponse response;
    response.contentType = pictureMime(png);
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

void Routes::waitForStill(const HTTPRequest& request, const Responder& responder) const {
    Device device = devices_.find(deviceParameter(request));
    ScreenRef screen = device.screen;
    if (!screen->changes(0)) {
        return responder.send(HTTPResponse::error("no frame yet from " + screen->name() + ": unlock it", 503));
    }
    SettleWaits::Waiter waiter{
        SettleRule::fromQuery(request.query, clock_.wallMillis()),
        [screen](int64_t since) {
            // Checked above: once a first frame has come, there is always a history.
            return screen->changes(since).value_or(ChangeReading{});
        },
        [responder](const SettleOutcome& outcome) { responder.send(HTTPResponse::json(outcome.json())); },
        [responder] { return responder.clientGone(); },
        [responder] { responder.drop(); },
    };
    responder.waitApart();
    if (!stillWaits_.add(std::move(waiter))) responder.send(HTTPResponse::error(stillWaits_.refusal(), 429));
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

void Routes::action(const HTTPRequest& request, const Responder& responder) const {
    if (auto host = hostOnly(request)) {
        return queueAction(request, responder, devices_.input(*host), std::nullopt, host->string(), host->string());
    }
    Device device = devices_.find(deviceParameter(request));
    if (device.host) {
        return queueAction(request, responder, devices_.input(*device.host), device, device.id(), device.screen->name());
    }
    // Finding the phone's host runs a matching pass first.
    waits_.async([this, request, responder, device] {
        guarded(request, responder, [&] {
            queueAction(request, responder, devices_.input(device), device, device.id(), device.screen->name());
        });
    });
}

void Routes::queueAction(const HTTPRequest& request, const Responder& responder, const std::shared_ptr<Input>& input,
                         const std::optional<Device>& device, const std::string& id, const std::string& name) const {
    auto gesture = prepareAction(request.path, request.body, device);
    if (!gesture) return responder.send(HTTPResponse::error("not found", 404));
    // The task holds the input by address: its queue runs what was queued
    // before it goes, so the input outlives the task. Holding a reference
    // would let the last one go on the input's own thread when the registry
    // has let go first, and a queue cannot stop from its own thread.
    auto run = [request, responder, input = input.get(), gesture = std::move(*gesture), id] {
        // Nobody waits for the outcome of an action whose client left before
        // it started, and the phone should not move for nobody.
        if (responder.clientGone()) {
            log("dropped " + request.path + " for " + id + ": its client has gone");
            return responder.drop();
        }
        guarded(request, responder, [&] {
            try {
                gesture(*input);
                responder.send(HTTPResponse::json(JSON{{"device", id}, {"ok", true}}));
            } catch (const Input::Interrupted& stopped) {
                std::string message = stopped.what();
                if (!stopped.progress().empty()) message += "; " + stopped.progress();
                responder.send(HTTPResponse::error(message, 423));
            }
        });
    };
    // A client that leaves mid-gesture stops it as a pause does: nobody
    // waits for the rest, and a long text should not go on typing for nobody.
    Input::StopCheck stop = [paused = options_.pausedBecause, responder]() -> std::optional<std::string> {
        if (paused) {
            if (auto reason = paused()) return reason;
        }
        if (responder.clientGone()) return std::string("its client has gone");
        return std::nullopt;
    };
    if (!input->submit(std::move(run), options_.maxWaitingActions, std::move(stop))) {
        responder.send(HTTPResponse::error(
            name + " is busy: " + std::to_string(options_.maxWaitingActions) + " actions are waiting", 429));
    }
}

}  // namespace quintalis
