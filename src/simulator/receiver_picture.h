#pragma once

#include "imaging/pixel_buffer.h"

namespace quintalis::simulator {

// An AirPlay receiver's window as a receiver draws it: a flat, dark title
// band, then the phone's picture as large as fits, centred on black.
inline constexpr int kReceiverWidth = 600;
inline constexpr int kReceiverHeight = 1000;
inline constexpr int kReceiverTitleBand = 28;

// The window's contents at width × height (BGRA); black below the band
// while there is no phone picture yet.
PixelBuffer receiverPicture(const PixelBuffer* phone, int width, int height);

}  // namespace quintalis::simulator
