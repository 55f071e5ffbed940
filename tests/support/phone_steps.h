#pragma once

#include <gtest/gtest.h>

#include "imaging/codecs.h"
#include "support/engine_process.h"
#include "support/find_colour.h"

namespace quintalis::testing {

// Steps of the end-to-end tests on the program's virtual phones, through its
// engine API as a client program would take them.

inline bool allPaired(EngineProcess& engine, size_t count) {
    auto devices = engine.json(engine.get("/status"))["devices"];
    if (devices.size() != count) return false;
    for (const auto& device : devices) {
        if (device["bluetooth"] != true) return false;
    }
    return true;
}

// Taps the app icon of that colour, at pixel coordinates of a maxEdge
// screenshot, and waits for the first phone to show the app and for its
// pointer to come to rest after the tap.
inline void openApp(EngineProcess& engine, uint32_t colour, const std::string& app) {
    // The picture follows the phone a frame or two behind (it is encoded,
    // sent and decoded), so the icon is looked for until it shows.
    std::optional<std::pair<int, int>> at;
    engine.waitFor([&] {
        auto shot = engine.get("/screenshot?format=png&maxEdge=1000");
        if (shot.status != 200) return false;
        auto picture = decodeImage(shot.body);
        if (picture) at = findColour(*picture, colour);
        return at.has_value();
    });
    ASSERT_TRUE(at) << app;
    auto tap = engine.post("/tap", {{"x", at->first}, {"y", at->second}, {"maxEdge", 1000}});
    ASSERT_EQ(tap.status, 200) << tap.body;
    ASSERT_TRUE(engine.waitFor([&] {
        auto phone = engine.truth()[0];
        return phone["app"] == app && phone["pointer"] == JSON{{"x", phone["width"].get<int>() - 1},
                                                                {"y", phone["height"].get<int>() - 1}};
    })) << engine.truth().dump();
}

}  // namespace quintalis::testing
