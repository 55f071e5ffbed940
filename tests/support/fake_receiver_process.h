#pragma once

#include <string>
#include <vector>

#include "app/model/receiver_keeper.h"

namespace quintalis::testing {

// A receiver program whose starts and exits the test decides.
class FakeReceiverProcess final : public ReceiverProcess {
public:
    bool present = true;
    std::vector<std::string> exits;  // how each run ends, at the next look
    int starts = 0;
    int stops = 0;
    bool running = false;
    std::string lastName;

    bool installed() override { return present; }
    Outcome start(const std::string& name) override {
        lastName = name;
        if (!present) return Outcome::failure("UxPlay is not installed. Install it with: sudo apt install uxplay");
        ++starts;
        running = true;
        return Outcome::success();
    }
    std::optional<std::string> ended() override {
        if (!running || exits.empty()) return std::nullopt;
        running = false;
        std::string how = exits.front();
        exits.erase(exits.begin());
        return how;
    }
    void stop() override {
        ++stops;
        running = false;
    }
};

}  // namespace quintalis::testing
