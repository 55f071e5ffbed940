#pragma once

#include <optional>

#include "imaging/pixel_buffer.h"
#include "simulator/phone_scene.h"

namespace quintalis::simulator {

// Draws a phone's screen with Cairo and Pango: the page's widgets, the
// status bar, the home indicator and, when AssistiveTouch is on, its
// floating button. Pure: the same scene gives the same pixels.
PixelBuffer renderScreen(const Scene& scene, int pixelWidth, int pixelHeight, double scale, bool assistiveTouch);

// A copy of the screen with the AssistiveTouch pointer (a translucent grey
// disc with a light rim, 66 px across at 3×) centred on the pixel position.
PixelBufferRef withPointer(const PixelBuffer& screen, double x, double y, double scale);

}  // namespace quintalis::simulator
