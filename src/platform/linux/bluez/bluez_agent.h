#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quintalis::bluez {

// The pairing agent: a keyboard and pointer with no display and no keys of
// its own can only pair "Just Works". It refuses what needs a PIN or a
// passkey typed in and every service authorisation (those are for other
// profiles, never ours), and asks `decide` about each pairing: a refusal
// reason, or nothing to accept.
//
// Threads: built and destroyed on the owner's queue. decide runs on the
// D-Bus thread with the device's object path and a function that answers
// bluetoothd; it may answer later, from any thread, exactly once.
class Agent {
public:
    static constexpr const char* kCapability = "NoInputNoOutput";
    static constexpr const char* kPath = "/org/quintalis/agent";
    using Answer = std::function<void(const std::optional<std::string>& refusal)>;
    using Decide = std::function<void(const std::string& device, Answer answer)>;

    Agent(sdbus::IConnection& connection, std::string path, Decide decide);
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::unique_ptr<sdbus::IObject> object_;
};

}  // namespace quintalis::bluez
