#pragma once

#include "bluetooth/hid_peripheral.h"
#include "engine/http_message.h"
#include "phones/devices.h"

namespace quintalis {

// The engine API's route table. Holds no state of its own; safe to call from
// many threads at once. Never throws: every failure becomes an error reply.
class Routes {
public:
    Routes(HIDPeripheral& peripheral, Devices& devices);

    HTTPResponse handle(const HTTPRequest& request) const;

    // GET / and GET /status.
    Json status() const;

private:
    HIDPeripheral& peripheral_;
    Devices& devices_;
};

}  // namespace quintalis
