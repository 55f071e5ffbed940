#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "engine/http_server.h"
#include "support/engine_process.h"
#include "support/time_scale.h"

using namespace quintalis::testing;

namespace {

// Where `needle` first appears in the log; npos when it never does.
size_t at(const std::string& log, const std::string& needle) { return log.find(needle); }

}  // namespace

// The headless program on the virtual iPhone, told to stop as a service
// manager or Ctrl-C would: it ends with status 0, quickly, after the steps
// of its ordered stop in their order, and leaves both ports free.
TEST(OrderedStop, SIGTERMStopsTheHeadlessProgramInOrderAndFreesItsPorts) {
    TempDir home;
    EngineProcess program("1", home.path(), {{"QUINTALIS_HEADLESS", "1"}});
    ASSERT_EQ(program.get("/status").status, 200) << program.log();
    ASSERT_TRUE(program.waitFor([&] { return program.log().find("capturing ") != std::string::npos; }))
        << program.log();

    const auto began = std::chrono::steady_clock::now();
    const int status = program.stop();
    const auto took = std::chrono::steady_clock::now() - began;

    const std::string log = program.log();
    EXPECT_EQ(status, 0) << log;
    EXPECT_LT(took, std::chrono::duration<double>(3 * testTimeScale())) << "the watchdog gives it 5 s";
    const std::vector<std::string> order{"quitting on SIGTERM",   "stop: HTTP servers",   "stop: capture sessions",
                                         "stop: Bluetooth peripheral",
                                         "stop: done in"};
    for (size_t i = 0; i < order.size(); ++i) {
        ASSERT_NE(at(log, order[i]), std::string::npos) << order[i] << "\n" << log;
        if (i > 0) {
            EXPECT_LT(at(log, order[i - 1]), at(log, order[i])) << order[i];
        }
    }
    EXPECT_EQ(log.find("unfinished after"), std::string::npos) << "the watchdog stayed idle";
    // Both ports can be served again at once.
    for (uint16_t port : {program.port(), program.airplayPort()}) {
        quintalis::HTTPServer again(port, [](const quintalis::HTTPRequest&) { return quintalis::HTTPResponse::json(quintalis::JSON::object()); });
        EXPECT_NO_THROW(again.start()) << port;
    }
}
