#include "mcp/service_phone_access.h"

#include <algorithm>

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

bool flag(const JSON& object, const char* key) {
    auto found = object.find(key);
    return found != object.end() && found->is_boolean() && found->get<bool>();
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

ServicePhoneAccess::ServicePhoneAccess(HTTPClient& http, std::string engineURL, std::string airplayURL)
    : http_(http), engineURL_(std::move(engineURL)), airplayURL_(std::move(airplayURL)) {}

std::string ServicePhoneAccess::notRunning() const {
    return "Quintalis is not running: nothing answers at " + engineURL_ + ". Open Quintalis and try again.";
}

PhoneList ServicePhoneAccess::phones() {
    PhoneList list;
    std::optional<JSON> status;
    std::string engineProblem;
    try {
        auto reply = http_.get(engineURL_ + "/status", kStatusTimeout);
        status = jsonObject(reply);
        if (!status || !status->contains("devices")) {
            status.reset();
            engineProblem = "Something other than Quintalis answers at " + engineURL_ +
                            ": quit it and open Quintalis, or set QUINTALIS_ENGINE_URL to Quintalis's address.";
        }
    } catch (const Unreachable&) {
        engineProblem = notRunning();
    }
    if (status) {
        list.paused = flag(*status, "paused");
        JSON devices = member(*status, "devices");
        for (const auto& device : devices.is_array() ? devices : JSON::array()) {
            if (!device.is_object() || text(device, "id").empty()) continue;
            Phone phone;
            phone.id = text(device, "id");
            phone.name = text(device, "name", phone.id);
            phone.seen = Phone::Seen::usb;
            phone.bluetooth = flag(device, "bluetooth");
            phone.screen = sizeFrom(device, "width", "height");
            list.phones.push_back(std::move(phone));
        }
    }
    addAirPlayPhone(list, status);
    if (!status) {
        // Without the engine an AirPlay phone can be seen, not driven.
        if (list.phones.empty()) throw PhoneError(engineProblem);
        list.problems.push_back(engineProblem);
    }
    return list;
}

void ServicePhoneAccess::addAirPlayPhone(PhoneList& list, const std::optional<JSON>& engineStatus) {
    std::optional<JSON> status;
    try {
        status = jsonObject(http_.get(airplayURL_ + "/status", kAirPlayStatusTimeout));
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

Picture ServicePhoneAccess::look(const Phone& phone, int maxEdge) {
    std::string edge = std::to_string(maxEdge);
    if (phone.seen == Phone::Seen::usb) {
        HTTPReply reply;
        try {
            reply = http_.get(engineURL_ + "/screenshot?device=" + percentEncoded(phone.id) + "&maxEdge=" + edge,
                              kPictureTimeout);
        } catch (const Unreachable&) {
            throw PhoneError(notRunning());
        }
        if (reply.status != 200) throw PhoneError(failure(reply));
        ImageSize screen{header(reply, "x-screen-width"), header(reply, "x-screen-height")};
        ImageSize image{header(reply, "x-image-width"), header(reply, "x-image-height")};
        return Picture{std::move(reply.body), screen, image};
    }
    HTTPReply reply;
    try {
        reply = http_.get(airplayURL_ + "/frame.jpg?maxEdge=" + edge, kPictureTimeout);
    } catch (const Unreachable&) {
        throw PhoneError("The AirPlay capture service stopped answering at " + airplayURL_ + ". Open Quintalis and try again.");
    }
    if (reply.status != 200) throw PhoneError("AirPlay: " + failure(reply));
    // The frame route sends no sizes; the picture itself has them.
    auto decoded = decodeImage(reply.body);
    if (!decoded) throw PhoneError("AirPlay: the service sent a picture that cannot be read");
    ImageSize image{decoded->width(), decoded->height()};
    return Picture{std::move(reply.body), phone.screen.value_or(image), image};
}

void ServicePhoneAccess::act(const Phone& phone, const std::string& path, JSON body) {
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
    try {
        reply = http_.post(engineURL_ + path, serializeJSON(body), kActionTimeout);
    } catch (const Unreachable&) {
        throw PhoneError(notRunning());
    }
    if (reply.status != 200) throw PhoneError(failure(reply));
}

JSON ServicePhoneAccess::waitToSettle(const Phone& phone, const SettleRule& rule) {
    std::string url = phone.seen == Phone::Seen::usb
                          ? engineURL_ + "/wait?device=" + percentEncoded(phone.id) + "&" + settleQuery(rule)
                          : airplayURL_ + "/wait?" + settleQuery(rule);
    HTTPReply reply;
    try {
        reply = http_.get(url, std::chrono::milliseconds(rule.max) + kWaitMargin);
    } catch (const Unreachable&) {
        throw PhoneError(phone.seen == Phone::Seen::usb ? notRunning()
                                                        : "The AirPlay capture service stopped answering at " +
                                                              airplayURL_ + ".");
    }
    auto body = jsonObject(reply);
    if (reply.status != 200 || !body) throw PhoneError(failure(reply));
    return *body;
}

}  // namespace quintalis::mcp
