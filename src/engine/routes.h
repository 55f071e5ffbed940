#pragma once

#include <optional>
#include <set>
#include <stdexcept>

#include "base/clock.h"
#include "bluetooth/hid_peripheral.h"
#include "engine/http_message.h"
#include "phones/devices.h"

namespace quintalis {

// A request the engine cannot carry out as asked; the text goes to the client.
class RouteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The engine API's route table: status, phones, matching, pairing,
// screenshots, waits for a still screen and actions. Holds no state of its
// own; safe to call from many threads at once; may block for a gesture, a
// matching pass or a wait. Never throws: every failure becomes an error reply.
class Routes {
public:
    // `clock` paces and measures GET /wait.
    Routes(HIDPeripheral& peripheral, Devices& devices, Clock& clock);

    static const std::set<std::string>& actions();

    HTTPResponse handle(const HTTPRequest& request) const;
    // GET / and GET /status.
    JSON status() const;

private:
    HTTPResponse route(const HTTPRequest& request) const;
    HTTPResponse match(const HTTPRequest& request) const;
    HTTPResponse pair(const HTTPRequest& request) const;
    HTTPResponse screenshot(const HTTPRequest& request) const;
    HTTPResponse waitForStill(const HTTPRequest& request) const;
    HTTPResponse action(const HTTPRequest& request) const;
    std::optional<UUID> hostOnly(const HTTPRequest& request) const;
    JSON deviceList() const;
    static JSON deviceList(const std::vector<Device>& devices);

    HIDPeripheral& peripheral_;
    Devices& devices_;
    Clock& clock_;
};

// The request's "device": the body member when it is a string, else the query item.
std::optional<std::string> deviceParameter(const HTTPRequest& request);

}  // namespace quintalis
