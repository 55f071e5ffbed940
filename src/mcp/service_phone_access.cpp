#include "mcp/service_phone_access.h"

#include <algorithm>

#include "base/json.h"
#include "imaging/codecs.h"

namespace quintalis::mcp {
namespace {

using namespace std::chrono_literals;

constexpr Duration kStatusTimeout = 5s;
// The AirPlay service may start a capture and wait up to 3 s for its first frame.
constexpr Duration kAirPlayStatusTimeout = 8s;
constexpr Duration kPictureTimeout = 15s;
// A long text is typed key by key; the engine answers when the last is in.
constexpr Duration kActionTimeout = 120s;
constexpr Duration kWaitMargin = 10s;

std::optional<JSON> jsonObject(const HTTPReply& reply) {
    auto parsed = parseJSON(reply.body);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    return parsed;
}

// Members read without trusting their types: whatever answers may not be Quintalis.
int integer(const JSON& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_number()) return 0;
    return static_cast<int>(std::clamp(found->get<double>(), -1e9, 1e9));
}

std::string text(const JSON& object, const char* key, const std::string& fallback = "") {
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : fallback;
}

JSON member(const JSON& object, const char* key) {
    auto found = object.find(key);
    return found == object.end() ? JSON() : *found;
}

std::optional<ImageSize> sizeFrom(const JSON& object, const char* widthKey, const char* heightKey) {
    if (!object.is_object()) return std::nullopt;
    ImageSize size{integer(object, widthKey), integer(object, heightKey)};
    if (size.width <= 0 || size.height <= 0) return std::nullopt;
    return size;
}

// The service's own sentence for a failure, else its status.
std::string failure(const HTTPReply& reply) {
    if (auto body = jsonObject(reply); body && !text(*body, "error").empty()) return text(*body, "error");
    return "the service answered HTTP " + std::to_string(reply.status);
}

int header(const HTTPReply& reply, const char* name) {
    auto found = reply.headers.find(name);
    if (found == reply.headers.end()) return 0;
    try {
        return std::stoi(found->second);
    } catch (const std::exception&) {
        return 0;
    }
}

std::string settleQuery(const SettleRule& rule) {
    return "since=" + std::to_string(rule.since) + "&min=" + std::to_string(rule.min) +
           "&quiet=" + std::to_string(rule.quiet) + "&max=" + std::to_string(rule.max) +
           "&first=" + std::to_string(rule.first);
}

}  // namespace

ServicePhoneAccess::ServicePhoneAccess(HTTPClient& http, EngineLink& link) : http_(http), link_(link) {}

std::string ServicePhoneAccess::notRunning() const {
    return "Quintalis is not running: nothing answers at " + link_.engineURL() + ". Open Quintalis and try again.";
}

HTTPReply ServicePhoneAccess::askEngine(const std::string& pathAndQuery, Duration timeout, const Cancellation& stop) {
    try {
        return http_.get(link_.engineURL() + pathAndQuery, timeout, stop);
    } catch (const Unreachable&) {
        if (!link_.revive()) throw;
    }
    return http_.get(link_.engineURL() + pathAndQuery, timeout, stop);
}

PhoneList ServicePhoneAccess::phones(const Cancellation& stop) {
    PhoneList list;
    std::optional<JSON> status;
    std::string engineProblem;
    try {
        auto reply = askEngine("/status", kStatusTimeout, stop);
        status = jsonObject(reply);
        if (!status || !status->contains("devices")) {
            status.reset();
            engineProblem = "Something other than Quintalis answers at " + link_.engineURL() +
                            ": quit it and open Quintalis, or set QUINTALIS_ENGINE_URL to Quintalis's address.";
        }
    } catch (const Unreachable&) {
        engineProblem = notRunning();
    }
    if (status) {
        list.paused = isTrue(*status, "paused");
        JSON devices = member(*status, "devices");
        for (const auto& device : devices.is_array() ? devices : JSON::array()) {
            if (!device.is_object() || text(device, "id").empty()) continue;
            Phone phone;
            phone.id = text(device, "id");
            phone.name = text(device, "name", phone.id);
            phone.seen = Phone::Seen::usb;
            phone.bluetooth = isTrue(device, "bluetooth");
            phone.screen = sizeFrom(device, "width", "height");
            list.phones.push_back(std::move(phone));
        }
    }
    addAirPlayPhone(list, status, stop);
    if (!status) {
        // Without the engine an AirPlay phone can be seen, not driven.
        if (list.phones.empty()) throw PhoneError(engineProblem);
        list.problems.push_back(engineProblem);
    }
    return list;
}

void ServicePhoneAccess::addAirPlayPhone(PhoneList& list, const std::optional<JSON>& engineStatus,
                                         const Cancellation& stop) {
    std::optional<JSON> status;
    try {
        status = jsonObject(http_.get(link_.airplayURL() + "/status", kAirPlayStatusTimeout, stop));
    } catch (const Unreachable&) {
        return;  // no AirPlay service: phones are only on USB
    }
    if (!status) return;
    const JSON window = member(*status, "window");
    if (!window.is_object()) {
        if (auto error = text(*status, "error"); !error.empty()) list.problems.push_back("AirPlay: " + error);
        return;
    }
    Phone phone;
    phone.id = Phone::kAirPlayID;
    phone.name = text(window, "title", text(window, "owner", "AirPlay"));
    if (phone.name.empty()) phone.name = "AirPlay";
    phone.seen = Phone::Seen::airplay;
    const JSON frame = member(*status, "frame");
    if (frame.is_object()) phone.screen = sizeFrom(member(frame, "content"), "w", "h");
    if (frame.is_object() && !phone.screen) phone.screen = sizeFrom(frame, "w", "h");
    // Its Bluetooth host is the one connected host that no USB phone has.
    JSON unmatched = engineStatus ? member(*engineStatus, "unmatchedHosts") : JSON::array();
    if (!unmatched.is_array()) unmatched = JSON::array();
    if (unmatched.size() == 1 && unmatched[0].is_string()) {
        phone.host = unmatched[0].get<std::string>();
        phone.bluetooth = true;
    } else if (unmatched.size() > 1) {
        list.problems.push_back(std::to_string(unmatched.size()) +
                                " Bluetooth connections belong to no USB phone, so Quintalis cannot tell which one "
                                "is the AirPlay phone: disconnect the others in their Bluetooth settings.");
    }
    list.phones.push_back(std::move(phone));
}

Picture ServicePhoneAccess::look(const Phone& phone, std::optional<int> maxEdge, const Cancellation& stop) {
    std::string edge = maxEdge ? "maxEdge=" + std::to_string(*maxEdge) : "";
    if (phone.seen == Phone::Seen::usb) {
        HTTPReply reply;
        try {
            reply = askEngine("/screenshot?device=" + percentEncoded(phone.id) + (edge.empty() ? "" : "&" + edge),
                              kPictureTimeout, stop);
        } catch (const Unreachable&) {
            throw PhoneError(notRunning());
        }
        if (reply.status == 503 && failure(reply).rfind("no frame yet", 0) == 0) throw NoFrameYet(failure(reply));
        if (reply.status != 200) throw PhoneError(failure(reply));
        ImageSize screen{header(reply, "x-screen-width"), header(reply, "x-screen-height")};
        ImageSize image{header(reply, "x-image-width"), header(reply, "x-image-height")};
        return Picture{std::move(reply.body), screen, image};
    }
    const std::string airplayURL = link_.airplayURL();
    HTTPReply reply;
    try {
        reply = http_.get(airplayURL + "/frame.jpg" + (edge.empty() ? "" : "?" + edge), kPictureTimeout, stop);
    } catch (const Unreachable&) {
        throw PhoneError("The AirPlay capture service stopped answering at " + airplayURL + ". Open Quintalis and try again.");
    }
    if (reply.status == 503) throw NoFrameYet("AirPlay: " + failure(reply));
    if (reply.status != 200) throw PhoneError("AirPlay: " + failure(reply));
    // The frame route sends no sizes; the picture itself has them.
    auto decoded = decodeImage(reply.body);
    if (!decoded) throw PhoneError("AirPlay: the service sent a picture that cannot be read");
    ImageSize image{decoded->width(), decoded->height()};
    // Without a limit the picture is the phone's part of the window as it is now.
    ImageSize screen = maxEdge ? phone.screen.value_or(image) : image;
    return Picture{std::move(reply.body), screen, image};
}

void ServicePhoneAccess::act(const Phone& phone, const std::string& path, JSON body, const Cancellation& stop) {
    if (phone.seen == Phone::Seen::usb) {
        body["device"] = phone.id;
    } else if (phone.host) {
        body["host"] = *phone.host;
    } else {
        throw PhoneError(phone.name +
                         " (seen over AirPlay) has no Bluetooth connection of its own: on the iPhone, open Settings "
                         "› Bluetooth and connect to this computer's keyboard, then call phones again.");
    }
    body["fraction"] = true;
    HTTPReply reply;
    const std::string engineURL = link_.engineURL();
    try {
        reply = http_.post(engineURL + path, serializeJSON(body), kActionTimeout, stop);
    } catch (const Unreachable&) {
        // It may have gone mid-gesture: doing the action again could do it twice.
        auto revived = link_.revive();
        if (!revived) throw PhoneError(notRunning());
        throw PhoneError("The Quintalis engine at " + engineURL + " went away during this action, which may be only "
                         "partly done. " + *revived + " Call look to see the screen, then try again.");
    }
    if (reply.status != 200) throw PhoneError(failure(reply));
}

JSON ServicePhoneAccess::waitToSettle(const Phone& phone, const SettleRule& rule, const Cancellation& stop) {
    Duration timeout = std::chrono::milliseconds(rule.max) + kWaitMargin;
    HTTPReply reply;
    try {
        if (phone.seen == Phone::Seen::usb) {
            reply = askEngine("/wait?device=" + percentEncoded(phone.id) + "&" + settleQuery(rule), timeout, stop);
        } else {
            reply = http_.get(link_.airplayURL() + "/wait?" + settleQuery(rule), timeout, stop);
        }
    } catch (const Unreachable&) {
        throw PhoneError(phone.seen == Phone::Seen::usb ? notRunning()
                                                        : "The AirPlay capture service stopped answering at " +
                                                              link_.airplayURL() + ".");
    }
    auto body = jsonObject(reply);
    if (reply.status != 200 || !body) throw PhoneError(failure(reply));
    return *body;
}

}  // namespace quintalis::mcp
