#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/services.h"
#include "engine/engine.h"
#include "simulator/simulated_usb_device.h"
#include "simulator/simulator.h"
#include "support/eventually.h"
#include "support/log_capture.h"
#include "support/raw_http.h"
#include "support/temp_dir.h"
#include "support/thread_names.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

// This program's own threads now, named after their queues.
std::multiset<std::string> ownThreads() {
    std::multiset<std::string> own;
    for (const auto& name : threadNames()) {
        if (name.starts_with("quintalis.")) own.insert(name);
    }
    return own;
}

// Index of the first log line that starts with `prefix`; the line count when none does.
size_t lineAt(const std::vector<std::string>& lines, const std::string& prefix) {
    return std::find_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.starts_with(prefix); }) -
           lines.begin();
}

}  // namespace

// The whole composition on the virtual iPhone: started as the headless
// program starts it, then stopped. Every thread of the program goes (those
// that last to the end, the signals', the watchdog's and the log's, are not
// started here), the ports close (an idle client is let go rather than left
// waiting), the phone on the cable is given back, and the steps come in the
// order the composition root states.
TEST(ServicesStop, StopsEverythingStartedInOrderAndGivesThePhoneBack) {
    TempDir home;
    for (const char* name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) setenv(name, home.path().c_str(), 1);
    setenv("QUINTALIS_SIMULATOR", "1", 1);
    setenv("QUINTALIS_ENGINE_PORT", "0", 1);
    setenv("QUINTALIS_AIRPLAY_PORT", "0", 1);
    unsetenv("DISPLAY");
    LogCapture log;

    Services services;
    auto& engine = services.engine();
    engine.start(Engine::WhenServedElsewhere::leave);
    ASSERT_EQ(engine.mode(), Engine::Mode::own());
    const uint16_t port = engine.listeningPort().value();
    const uint16_t airplayPort = engine.airplayListeningPort().value();
    auto& phone = services.devices().simulator->usbDevice(0);
    ASSERT_TRUE(eventually([&] { return phone.framesSent() > 0; }, 20)) << "the phone's screen is captured";
    RawConnection idle(port);
    ASSERT_TRUE(idle.connected());
    ASSERT_TRUE(eventually([&] { return engine.openConnections() == 1; }));
    auto serving = threadNames();
    ASSERT_EQ(serving.count("quintalis.http"), 2u) << "one I/O thread per server";

    services.stop();

    EXPECT_TRUE(idle.closedWithoutReply());
    EXPECT_FALSE(RawConnection(port).connected());
    EXPECT_FALSE(RawConnection(airplayPort).connected());
    EXPECT_EQ(engine.listeningPort(), std::nullopt);
    // Back in its normal configuration, the capture one hidden again.
    auto events = phone.events();
    auto captured = std::find(events.rbegin(), events.rend(), "set configuration 5");
    ASSERT_NE(captured, events.rend());
    EXPECT_NE(std::find(events.rbegin(), captured, "hide"), captured);
    EXPECT_EQ(events.back(), "set configuration 4");
    // Workers leave a moment after their last task; every other thread was joined.
    EXPECT_TRUE(eventually([] { return threadNames().count("quintalis.http") == 0; }));
    EXPECT_EQ(ownThreads(), std::multiset<std::string>{}) << "outlived the stop";

    const auto lines = log.lines();
    const std::vector<std::string> order{"stop: HTTP servers",
                                         "http stopped on 127.0.0.1:" + std::to_string(port),
                                         "http stopped on 127.0.0.1:" + std::to_string(airplayPort),
                                         "stop: phones",
                                         "stop: capture sessions",
                                         "stop: screens",
                                         "stop: Bluetooth peripheral",
                                         "stop: virtual iPhones",
                                         "stop: done in"};
    for (size_t i = 0; i < order.size(); ++i) {
        ASSERT_LT(lineAt(lines, order[i]), lines.size()) << order[i];
        if (i > 0) {
            EXPECT_LT(lineAt(lines, order[i - 1]), lineAt(lines, order[i])) << order[i];
        }
    }

    // Nothing comes back afterwards: a second stop is a no-op and a start serves nothing.
    services.stop();
    engine.start(Engine::WhenServedElsewhere::leave);
    EXPECT_EQ(engine.listeningPort(), std::nullopt);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "stop: HTTP servers"), 1);
}
