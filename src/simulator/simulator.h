#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/serial_queue.h"
#include "simulator/simulated_cameras.h"
#include "simulator/simulated_radio.h"
#include "simulator/virtual_phone.h"

namespace quintalis::simulator {

// The virtual iPhones with the radio and the USB cable they are reached by.
// Every phone's state lives on the "quintalis.simulator" queue; the radio
// and the cameras hand work to it. Safe to call from any thread.
class Simulator {
public:
    explicit Simulator(std::vector<PhoneSetup> setups);
    ~Simulator();

    // "1" to "4" phones, or one description per phone, such as "phone,phone:locked,phone:no-assistivetouch,phone:no-bluetooth".
    // Nothing, with a reason in `error`, for anything else.
    static std::optional<std::vector<PhoneSetup>> parse(const std::string& text, std::string& error);

    BluetoothPeripheralRole& radio() { return *radio_; }
    CaptureDevices& cameras() { return *cameras_; }
    size_t phoneCount() const { return phones_.size(); }

    // {"phones": [ground truth of each phone]}.
    JSON groundTruth();

private:
    std::vector<std::unique_ptr<VirtualPhone>> phones_;  // owned by queue_
    SerialQueue queue_{"quintalis.simulator"};
    std::unique_ptr<SimulatedCameras> cameras_;
    std::unique_ptr<SimulatedRadio> radio_;
};

}  // namespace quintalis::simulator
