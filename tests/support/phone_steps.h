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
// screenshot, and waits for the first phone to show the app.
inline void openApp(EngineProcess& engine, uint32_t colour, const std::string& app) {
    auto shot = engine.get("/screenshot?format=png&maxEdge=1000");
    ASSERT_EQ(shot.status, 200);
    auto picture = decodeImage(shot.body);
    ASSERT_TRUE(picture);
    auto at = findColour(*picture, colour);
    ASSERT_TRUE(at) << app;
    auto tap = engine.post("/tap", {{"x", at->first}, {"y", at->second}, {"maxEdge", 1000}});
    ASSERT_EQ(tap.status, 200) << tap.body;
    ASSERT_TRUE(engine.waitFor([&] { return engine.truth()[0]["app"] == app; })) << engine.truth().dump();
}

}  // namespace quintalis::testing
