#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/model/app_values.h"
#include "app/model/try_it.h"

namespace quintalis {

class Services;

// Draws every page of the setup window with made-up values into
// step-00.png … step-06.png, without showing a window, through the same page
// code as the live window. `arguments` follow --render-steps: <dir>
// [--image phone.jpg]. Returns the exit status.
int renderSteps(const std::vector<std::string>& arguments, Services& services);

// The made-up values the pictures show: a phone connected over AirPlay,
// most steps done.
AppValues demoValues(const std::string& computerName);
TryIt::Result demoLook(PixelBufferRef picture);

}  // namespace quintalis
