#pragma once

#include "imaging/pixel_buffer.h"

namespace quintalis::simulator {

// Where a simulated AirPlay receiver shows a phone: a real X11 window, or a
// window that only the simulator's own window server lists.
class ReceiverSurface {
public:
    virtual ~ReceiverSurface() = default;
    // The phone's newest picture. Any thread; returns at once.
    virtual void show(PixelBufferRef phonePicture) = 0;
    // For the ordered stop, once no picture comes any more: ends the thread
    // that draws them. A later picture starts it again.
    virtual void stop() {}
};

}  // namespace quintalis::simulator
