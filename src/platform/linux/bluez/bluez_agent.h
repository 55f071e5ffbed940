#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <functional>
#include <memory>

namespace quintalis::bluez {

// The pairing agent: a keyboard and pointer with no display and no keys of
// its own can only pair "Just Works", so it accepts every pairing and
// service request and refuses the ones that need a PIN or passkey typed in.
//
// Threads: built and destroyed on the owner's queue; onAccepted (given the
// device's object path) runs on the D-Bus thread.
class Agent {
public:
    static constexpr const char* kCapability = "NoInputNoOutput";

    Agent(sdbus::IConnection& connection, std::string path, std::function<void(const std::string& device)> onAccepted);
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::unique_ptr<sdbus::IObject> object_;
};

}  // namespace quintalis::bluez
