#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>

#include "app/stop_watchdog.h"
#include "base/semaphore.h"
#include "bluetooth/hid_peripheral.h"
#include "support/eventually.h"
#include "support/log_capture.h"
#include "support/manual_main_thread.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;
using namespace std::chrono_literals;

namespace {

constexpr char kGivesUp[] = "stop: unfinished after 5 s; ending without it";

// Services on the virtual iPhone, with its radio in use, as the program has them.
class StopWatchdogTest : public ::testing::Test {
protected:
    StopWatchdogTest() {
        for (const char* name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) setenv(name, home.path().c_str(), 1);
        setenv("QUINTALIS_SIMULATOR", "1", 1);
        unsetenv("DISPLAY");
        services.peripheral().start();
    }

    // Stops on another thread under the test's watchdog, whose end only notes the status.
    void stopInBackground(int status) {
        stopping = std::thread([this, status] {
            returned = stopThenEnd(services, status, Services::StopLog::steps, {timers, [this](int code) { ended = code; }});
        });
    }

    TempDir home;
    LogCapture log;
    Services services;  // its parts are never destroyed, as in the program
    ManualMainThread timers;
    std::optional<int> ended;
    std::optional<int> returned;
    std::thread stopping;
};

}  // namespace

// A radio that never answers holds the stop at its Bluetooth step. At the
// deadline, five seconds after the stop began, the watchdog says so and
// ends the process with the stop's own status; the last step logged before
// is the one that hung.
TEST_F(StopWatchdogTest, EndsAHangingStopAtTheDeadlineWithItsStatus) {
    Semaphore held, answer;
    std::thread radio([&] { services.peripheral().sync([&] {
        held.signal();
        answer.wait();
    }); });
    held.wait();

    stopInBackground(143);
    ASSERT_TRUE(eventually([&] { return log.contains("stop: Bluetooth peripheral"); }));
    EXPECT_EQ(timers.delays(), std::vector<Duration>{std::chrono::seconds(5)});
    EXPECT_FALSE(ended) << "nothing before the deadline";
    timers.fireTimers();
    EXPECT_EQ(ended, 143);

    auto lines = log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), kGivesUp);
    auto lastStep = std::find_if(lines.rbegin() + 1, lines.rend(), [](const std::string& line) { return line.starts_with("stop:"); });
    ASSERT_NE(lastStep, lines.rend());
    EXPECT_EQ(*lastStep, "stop: Bluetooth peripheral");

    answer.signal();
    radio.join();
    stopping.join();
    EXPECT_EQ(returned, 143);
}

// A stop that finishes before the deadline leaves the watchdog nothing to
// do when its time comes.
TEST_F(StopWatchdogTest, StaysIdleWhenTheStopFinishesInTime) {
    stopInBackground(0);
    stopping.join();
    EXPECT_EQ(returned, 0);
    ASSERT_EQ(timers.delays().size(), 1u);
    timers.fireTimers();
    EXPECT_FALSE(ended);
    EXPECT_FALSE(log.contains(kGivesUp));
    EXPECT_TRUE(log.contains("stop: Bluetooth peripheral"));
}
