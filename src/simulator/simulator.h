#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/serial_queue.h"
#include "simulator/headless_receivers.h"
#include "simulator/simulated_cameras.h"
#include "simulator/simulated_radio.h"
#include "simulator/virtual_phone.h"

namespace quintalis::simulator {

// The virtual iPhones with the radio and the USB cable they are reached by,
// and the AirPlay receiver windows of the phones shown over AirPlay. Every
// phone's state lives on the "quintalis.simulator" queue; the radio and the
// cameras hand work to it. Safe to call from any thread.
class Simulator {
public:
    // With `xDisplay` ("" for $DISPLAY) the receiver windows are real X11
    // windows there; without it, or when it cannot be reached, the simulator
    // lists and streams them itself (windowServer(), windowStreams()).
    explicit Simulator(std::vector<PhoneSetup> setups, std::optional<std::string> xDisplay = std::nullopt);
    ~Simulator();

    // "1" to "4" phones, or one description per phone, such as "phone,phone:locked,phone:no-assistivetouch,phone:no-bluetooth".
    // Nothing, with a reason in `error`, for anything else.
    static std::optional<std::vector<PhoneSetup>> parse(const std::string& text, std::string& error);

    BluetoothPeripheralRole& radio() { return *radio_; }
    CaptureDevices& cameras() { return *cameras_; }
    size_t phoneCount() const { return phones_.size(); }
    // The receiver windows' own window server and streams, when they are not on X.
    WindowServer* windowServer() { return headless_.get(); }
    WindowStreams* windowStreams() { return headless_.get(); }

    // {"phones": [ground truth of each phone]}.
    JSON groundTruth();

private:
    void showOverAirPlay(VirtualPhone& phone, const std::optional<std::string>& xDisplay);

    std::vector<std::unique_ptr<VirtualPhone>> phones_;  // owned by queue_
    SerialQueue queue_{"quintalis.simulator"};
    std::unique_ptr<SimulatedCameras> cameras_;
    std::unique_ptr<SimulatedRadio> radio_;
    std::unique_ptr<HeadlessReceivers> headless_;
    std::vector<std::unique_ptr<ReceiverSurface>> windows_;  // the receivers on X
    std::vector<std::unique_ptr<CaptureSession>> receiving_;  // each receiver's feed of its phone's picture
};

}  // namespace quintalis::simulator
