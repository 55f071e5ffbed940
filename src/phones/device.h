#pragma once

#include <optional>
#include <stdexcept>

#include "base/json.h"
#include "base/user_error.h"
#include "base/uuid.h"
#include "phones/screen.h"

namespace quintalis {

// One phone as the engine sees it now: its USB screen and, while that host
// is connected, the Bluetooth host paired with it.
struct Device {
    ScreenRef screen;
    std::optional<UUID> host;

    const std::string& id() const { return screen->id(); }
    // {"id", "name", "bluetooth", "width", "height"}; the size only once a frame arrived.
    JSON json() const;
};

// A failure to pick or drive a phone; the text goes to the client as is.
class DeviceError : public UserError {
public:
    using UserError::UserError;
};

}  // namespace quintalis
