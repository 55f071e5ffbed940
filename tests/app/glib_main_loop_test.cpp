#include "app/ui/glib_main_loop.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "mirror/airplay_warm_up.h"
#include "simulator/headless_receivers.h"
#include "support/no_text.h"

using namespace quintalis;
using namespace quintalis::testing;
using namespace std::chrono_literals;

namespace {

// The process's one main thread, drained by GLib's default context as in
// the desktop app; set up once, since the context keeps it for good.
MainRunLoop& mainThread() {
    static MainRunLoop& loop = [] () -> MainRunLoop& {
        auto& made = *new MainRunLoop();
        drainFromGLib(made);
        return made;
    }();
    return loop;
}

// Runs GLib's default context until `done` holds, or gives up after 30 s;
// work that only got done when the give-up timer woke GLib counts as not done.
bool runGLibUntil(const std::function<bool()>& done) {
    bool late = false;
    guint guard = g_timeout_add_seconds(
        30,
        [](gpointer flag) {
            *static_cast<bool*>(flag) = true;
            return gboolean(G_SOURCE_REMOVE);
        },
        &late);
    while (!done() && !late) g_main_context_iteration(nullptr, TRUE);
    if (late) return false;
    g_source_remove(guard);
    return true;
}

// Counts the streams started, so the test sees the warm-up's capture
// without opening one itself.
class CountingStreams final : public WindowStreams {
public:
    explicit CountingStreams(WindowStreams& inner) : inner_(inner) {}
    std::unique_ptr<WindowStream> start(uint32_t window, SerialQueue& queue, Callbacks callbacks) override {
        ++started;
        return inner_.start(window, queue, std::move(callbacks));
    }
    std::atomic<int> started{0};

private:
    WindowStreams& inner_;
};

}  // namespace

TEST(GLibMainLoop, RunsTheMainThreadsTasksAndTimersInOrderOnGLibsThread) {
    auto& loop = mainThread();
    std::vector<int> seen;
    loop.postAfter(30ms, [&] { seen.push_back(3); });
    loop.postAfter(10ms, [&] { seen.push_back(2); });
    loop.post([&] { seen.push_back(1); });
    ASSERT_TRUE(runGLibUntil([&] { return seen.size() == 3; }));
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));

    // A post from another thread wakes GLib from a sleep with nothing due.
    std::thread::id ranOn;
    std::thread poster([&] {
        std::this_thread::sleep_for(50ms);  // long enough for GLib to be asleep in poll()
        loop.post([&] { ranOn = std::this_thread::get_id(); });
    });
    EXPECT_TRUE(runGLibUntil([&] { return ranOn != std::thread::id(); }));
    poster.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(GLibMainLoop, TheAirPlayWarmUpOpensTheCaptureInsideTheToolkitsLoop) {
    simulator::HeadlessReceivers receivers;
    receivers.addWindow("AirPlay: Simulated iPhone");
    CountingStreams streams(receivers);
    CaptureBackends backends{receivers, streams, Clock::real(), [](const std::string&) { return std::nullopt; },
                             "help"};
    NoText text;
    AirPlayServer server(backends, text, std::nullopt);
    AirPlayWarmUp warmUp(server, mainThread(), 20ms);
    warmUp.start();
    ASSERT_TRUE(runGLibUntil([&] { return streams.started > 0; }));
    // The warm-up's capture is the one requests use, and frames keep coming.
    auto capture = server.capture();
    ASSERT_TRUE(capture);
    EXPECT_TRUE(capture->waitForFrame(10s));
    EXPECT_EQ(streams.started, 1);
}
