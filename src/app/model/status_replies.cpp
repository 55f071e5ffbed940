#include "app/model/status_replies.h"

#include <algorithm>

#include <cmath>
#include <limits>

namespace quintalis {
namespace {

const JSON* member(const JSON& object, const char* name) {
    auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

std::string stringOr(const JSON& object, const char* name, const std::string& fallback) {
    const JSON* value = member(object, name);
    return value && value->is_string() ? value->get<std::string>() : fallback;
}

// A list all of whose entries are strings; anything else counts as absent.
std::vector<std::string> strings(const JSON& object, const char* name) {
    const JSON* value = member(object, name);
    if (!value || !value->is_array()) return {};
    std::vector<std::string> list;
    for (const auto& entry : *value) {
        if (!entry.is_string()) return {};
        list.push_back(entry.get<std::string>());
    }
    return list;
}

// A whole number that fits an int, also when written as 1179.0.
std::optional<int> integer(const JSON& object, const char* name) {
    const JSON* value = member(object, name);
    if (!value || !value->is_number()) return std::nullopt;
    double number = value->get<double>();
    if (number != std::floor(number) || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(number);
}

// The phone list; one entry that is not an object voids it, as for strings.
std::vector<AppValues::Phone> phones(const JSON& object) {
    const JSON* value = member(object, "devices");
    if (!value || !value->is_array()) return {};
    std::vector<AppValues::Phone> list;
    for (const auto& entry : *value) {
        if (!entry.is_object()) return {};
        const JSON* bluetooth = member(entry, "bluetooth");
        list.push_back({stringOr(entry, "id", ""), stringOr(entry, "name", "iPhone"),
                        bluetooth && bluetooth->is_boolean() && bluetooth->get<bool>(), integer(entry, "width"),
                        integer(entry, "height")});
    }
    return list;
}

}  // namespace

EngineStatus readEngineStatus(const JSON& reply) {
    EngineStatus status;
    if (!reply.is_object()) return status;
    status.owner = stringOr(reply, "app", status.owner);
    status.bluetooth = stringOr(reply, "bluetooth", status.bluetooth);
    status.phones = phones(reply);
    status.hosts = strings(reply, "hosts");
    status.unmatchedHosts = strings(reply, "unmatchedHosts");
    if (const JSON* paused = member(reply, "paused"); paused && paused->is_boolean()) status.paused = paused->get<bool>();
    status.pairingSeconds = std::max(0, integer(reply, "pairing").value_or(0));
    return status;
}

AirPlayStatus readAirPlayStatus(const JSON& reply) {
    AirPlayStatus status;
    if (!reply.is_object()) return status;
    if (const JSON* candidates = member(reply, "candidates"); candidates && candidates->is_array()) {
        status.candidates = static_cast<int>(candidates->size());
    }
    if (const JSON* window = member(reply, "window"); window && window->is_object()) {
        status.window = stringOr(*window, "owner", "");
    }
    const JSON* permission = member(reply, "permission");
    status.permission = permission && permission->is_boolean() && permission->get<bool>();
    if (!status.permission) status.refusal = stringOr(reply, "error", "");
    return status;
}

}  // namespace quintalis
