#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/serial_queue.h"
#include "simulator/headless_receivers.h"
#include "simulator/simulated_cameras.h"
#include "simulator/simulated_radio.h"
#include "simulator/simulated_usb_bus.h"
#include "simulator/virtual_phone.h"

namespace quintalis::simulator {

// The virtual iPhones with the radio and the USB cable they are reached by,
// and the AirPlay receiver windows of the phones shown over AirPlay. Every
// phone's state lives on the "quintalis.simulator" queue; the radio and the
// cameras hand work to it. Safe to call from any thread.
class Simulator {
public:
    // Opens a receiver window with this title on a real display; nothing
    // when that display cannot be reached.
    using WindowOpener = std::function<std::unique_ptr<ReceiverSurface>(const std::string& title)>;

    // With `openWindow` the receiver windows are real windows it opens;
    // without it, or when it opens none, the simulator lists and streams
    // them itself (windowServer(), windowStreams()).
    explicit Simulator(std::vector<PhoneSetup> setups, WindowOpener openWindow = {});
    ~Simulator();

    // "1" to "4" phones, or one description per phone, such as "phone,phone:locked,phone:no-assistivetouch,phone:no-bluetooth".
    // Nothing, with a reason in `error`, for anything else.
    static std::optional<std::vector<PhoneSetup>> parse(const std::string& text, std::string& error);

    BluetoothPeripheralRole& radio() { return *radio_; }
    // The phones' own pictures, straight (what their AirPlay receivers show).
    CaptureDevices& cameras() { return *cameras_; }
    // The cable: the phones on the cable as USB devices speaking the screen
    // protocol, and what their lockdown service says about them.
    SimulatedUsbBus& usbBus() { return *usbBus_; }
    size_t phoneCount() const { return phones_.size(); }
    // The phones on the cable, in the order of their setups, for tests that
    // look at what the host did to them.
    SimulatedUsbDevice& usbDevice(size_t index) { return *usbDevices_.at(index); }
    // The receiver windows' own window server and streams, when they are not on X.
    WindowServer* windowServer() { return headless_.get(); }
    WindowStreams* windowStreams() { return headless_.get(); }

    // {"phones": [ground truth of each phone]}.
    JSON groundTruth();

    // For the process's ordered stop, once the radio and the cable's host
    // have let go: ends the phones' threads (their bus reports stop with the
    // bus). Nothing is destroyed; a later call starts what it needs again.
    void stop();

private:
    void plugIn(VirtualPhone& phone);
    void showOverAirPlay(VirtualPhone& phone, const WindowOpener& openWindow);

    std::vector<std::unique_ptr<VirtualPhone>> phones_;  // owned by queue_
    SerialQueue queue_{"quintalis.simulator"};
    std::unique_ptr<SimulatedCameras> cameras_;
    std::unique_ptr<SimulatedRadio> radio_;
    std::unique_ptr<SimulatedUsbBus> usbBus_;
    std::vector<std::unique_ptr<SimulatedUsbDevice>> usbDevices_;
    std::unique_ptr<HeadlessReceivers> headless_;
    std::vector<std::unique_ptr<ReceiverSurface>> windows_;  // the receivers on a real display
    std::vector<ReceiverSurface*> surfaces_;                  // every receiver, on a display or not
    std::vector<std::unique_ptr<CaptureSession>> receiving_;  // each receiver's feed of its phone's picture
};

}  // namespace quintalis::simulator
