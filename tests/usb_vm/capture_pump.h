#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "simulator/phone_screen_side.h"

namespace quintalis::gadget {

// Carries the phone's screen side over a FunctionFS capture interface: what
// the host writes on the OUT endpoint goes to the screen side message by
// message, and what the phone says goes out on the IN endpoint. Runs while
// the host has the interface enabled; start() again restarts it.
// SIGUSR1 must be caught without SA_RESTART: it interrupts endpoint I/O.
class CapturePump {
public:
    CapturePump(simulator::PhoneScreenSide& screen, std::string inEndpoint, std::string outEndpoint);
    ~CapturePump();
    CapturePump(const CapturePump&) = delete;
    CapturePump& operator=(const CapturePump&) = delete;

    void start();
    void stop();
    bool running() const { return sender_.joinable(); }

private:
    void sendLoop();
    void receiveLoop();
    static void interrupt(std::thread& thread, const std::atomic<bool>& done);

    simulator::PhoneScreenSide& screen_;
    const std::string inPath_, outPath_;
    int in_ = -1, out_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> sendDone_{true}, receiveDone_{true};
    std::thread sender_, receiver_;
};

}  // namespace quintalis::gadget
