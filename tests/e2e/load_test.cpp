#include <gtest/gtest.h>

#include "support/engine_process.h"
#include "support/load_run.h"
#include "support/phone_steps.h"

using namespace quintalis;
using namespace quintalis::testing;

// Thirty-two clients at once against two phones: every request answered, and
// each answer about the phone it asked about. A few seconds here; the figures
// of a longer run come from the load benchmark.
TEST(Load, ThirtyTwoClientsOnTwoPhonesGetEveryAnswerAndOnlyTheirOwn) {
    TempDir home;
    EngineProcess engine("2", home.path());
    // Pairing under the sanitizers on a busy machine can take well over 20 s.
    ASSERT_TRUE(engine.waitFor([&] { return allPaired(engine, 2); }, 90)) << engine.log();
    std::vector<std::string> devices;
    const JSON status = engine.json(engine.get("/status"));
    for (const auto& device : status["devices"]) devices.push_back(device["id"]);
    ASSERT_EQ(devices.size(), 2u);

    LoadFigures figures = runLoad(engine.port(), devices, 32, std::chrono::seconds(3));
    std::cout << figures.table();
    for (const auto& problem : figures.problems) ADD_FAILURE() << problem;
    EXPECT_EQ(figures.failed(), 0);
    EXPECT_EQ(figures.crossed(), 0);
    for (const char* route : {"POST /tap", "GET /status", "GET /screenshot"}) {
        EXPECT_FALSE(figures.routes[route].millis.empty()) << route;
    }
}
