#pragma once

#include <optional>
#include <set>
#include <stdexcept>

#include "base/clock.h"
#include "base/concurrent_queue.h"
#include "base/user_error.h"
#include "screen/settle_waits.h"
#include "bluetooth/hid_peripheral.h"
#include "engine/http_message.h"
#include "engine/responder.h"
#include "phones/devices.h"

namespace quintalis {

// A request the engine cannot carry out as asked; the text goes to the client.
class RouteError : public UserError {
public:
    using UserError::UserError;
};

// The engine API's route table: status, phones, matching, pairing,
// screenshots, waits for a still screen and actions. Safe to call from many
// threads at once, and never holds its caller for long: reads answer at
// once; an action is checked, then queued behind its phone's earlier
// gestures and answered when its own is over, holding no thread while it
// waits; GET /wait is answered from "quintalis.http.settle", which looks at
// every pending wait (at most maxPendingWaits, then 429) without a thread
// each; whatever waits for a matching pass waits on the
// "quintalis.http.wait" queue, so reads never queue behind it. Failures a
// client can cause are answered 400 (423 when the owner stops a running
// action, 429 when its phone or the waits are too busy); any other failure
// 500 "internal error", and logged.
struct RouteOptions {
    // Asked before each step of a running action; a reason stops it.
    Input::StopCheck pausedBecause;
    // Actions that may wait on one phone while another runs.
    size_t maxWaitingActions = 8;
    // GET /wait requests pending at once; one more is answered 429.
    size_t maxPendingWaits = SettleWaits::kDefaultBudget;
};

class Routes {
public:
    using Options = RouteOptions;

    // `clock` paces and measures GET /wait.
    Routes(HIDPeripheral& peripheral, Devices& devices, Clock& clock, Options options = {});

    static const std::set<std::string>& actions();

    void handle(const HTTPRequest& request, Responder responder) const;
    // GET / and GET /status.
    JSON status() const;

private:
    void route(const HTTPRequest& request, const Responder& responder) const;
    // Runs the work, answering the failures a client can cause with 400 and
    // anything else with 500.
    static void guarded(const HTTPRequest& request, const Responder& responder, const std::function<void()>& work);
    HTTPResponse match(const HTTPRequest& request) const;
    HTTPResponse pair(const HTTPRequest& request) const;
    HTTPResponse pairingWindow(const HTTPRequest& request) const;
    HTTPResponse screenshot(const HTTPRequest& request) const;
    void waitForStill(const HTTPRequest& request, const Responder& responder) const;
    void action(const HTTPRequest& request, const Responder& responder) const;
    void queueAction(const HTTPRequest& request, const Responder& responder, const std::shared_ptr<Input>& input,
                     const std::optional<Device>& device, const std::string& id, const std::string& name) const;
    std::optional<UUID> hostOnly(const HTTPRequest& request) const;
    JSON deviceList() const;
    static JSON deviceList(const std::vector<Device>& devices);

    HIDPeripheral& peripheral_;
    Devices& devices_;
    Clock& clock_;
    Options options_;
    mutable SettleWaits stillWaits_;
    mutable ConcurrentQueue waits_{"quintalis.http.wait", 16};  // last: drained before the rest goes
};

// The request's "device": the body member when it is a string, else the query item.
std::optional<std::string> deviceParameter(const HTTPRequest& request);

}  // namespace quintalis
