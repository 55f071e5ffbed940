#pragma once

#include <functional>
#include <optional>
#include <string>

#include "bluetooth/input.h"
#include "phones/device.h"

namespace quintalis {

// One action, checked and ready to run on its host's Input.
using Gesture = std::function<void(Input&)>;

// The longest touch, swipe or hold an action may ask for, so no request can
// keep a phone's pointer pressed for long.
inline constexpr double kMaxGestureSeconds = 10;
// The longest relative move, in mouse counts along each axis.
inline constexpr int kMaxNudge = 10000;

// Reads and checks the fields of one action (/tap, /swipe, /move, /nudge,
// /type, /key, /home) and returns the gesture that carries it out; nothing
// for any other path. A tap or swipe ends with the pointer at its resting
// place, as does a /move with "rest": true. Coordinates are fractions, or, with a USB screen,
// pixels of the client's screenshot. Throws RouteError or
// Input::InputError, before anything is sent, for a request it cannot
// carry out.
std::optional<Gesture> prepareAction(const std::string& path, const JSON& body, const std::optional<Device>& device);

// The screen fraction for one pair of coordinate fields ("x"/"y", "x1"/"y1"...).
// `frame` is the screen's current frame size, when there is a screen and a frame.
Input::Point actionPoint(const JSON& body, const std::string& xk, const std::string& yk, bool hasScreen,
                         const std::optional<ImageSize>& frame, const std::string& screenName);

}  // namespace quintalis
