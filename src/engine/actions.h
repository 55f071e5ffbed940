#pragma once

#include <optional>
#include <string>

#include "bluetooth/input.h"
#include "engine/http_message.h"
#include "phones/device.h"

namespace quintalis {

// Runs one action (/tap, /swipe, /move, /nudge, /type, /key, /home) on the
// host's Input and answers {"device": id, "ok": true} once the gesture is
// over. Coordinates are fractions, or, with a USB screen, pixels of the
// client's screenshot. Throws RouteError or Input::InputError, before
// anything is sent, for a request it cannot carry out.
HTTPResponse perform(const std::string& path, const JSON& body, Input& input, const std::optional<Device>& device,
                     const std::string& id);

// The screen fraction for one pair of coordinate fields ("x"/"y", "x1"/"y1"...).
// `frame` is the screen's current frame size, when there is a screen and a frame.
Input::Point actionPoint(const JSON& body, const std::string& xk, const std::string& yk, bool hasScreen,
                         const std::optional<ImageSize>& frame, const std::string& screenName);

}  // namespace quintalis
