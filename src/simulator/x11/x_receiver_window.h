#pragma once

#include <memory>
#include <string>

#include "base/serial_queue.h"
#include "platform/linux/x_connection.h"
#include "simulator/receiver_surface.h"
#include "simulator/simulator.h"

namespace quintalis::simulator {

// The simulated AirPlay receiver as a real X11 window of this process, on a
// connection of its own as another program's window would be: class
// "quintalis-airplay-receiver", titled "AirPlay: " + the phone's name. It
// redraws when the phone's picture changes, when it is exposed and when it
// is resized; drawing happens on its own queue. The window goes when this
// object (or the process) ends.
class XReceiverWindow final : public ReceiverSurface {
public:
    // Nothing when the display cannot be reached.
    static std::unique_ptr<XReceiverWindow> open(const std::string& display, const std::string& title);
    ~XReceiverWindow() override;

    void show(PixelBufferRef phonePicture) override;
    void stop() override { queue_.stop(); }
    uint32_t number() const { return window_; }

private:
    XReceiverWindow(std::shared_ptr<XConnection> x, const std::string& title);
    void draw();

    std::shared_ptr<XConnection> x_;
    xcb_window_t window_;
    xcb_gcontext_t gc_;
    uint64_t handler_ = 0;
    SerialQueue queue_{"quintalis.simulator.airplay"};
    // Owned by queue_.
    PixelBufferRef phone_;
    int width_;
    int height_;
};

// Opens the receiver windows on `display` ("" for $DISPLAY).
Simulator::WindowOpener xReceiverWindows(const std::string& display);

}  // namespace quintalis::simulator
