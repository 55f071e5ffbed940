#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "base/semaphore.h"
#include "support/engine_api.h"
#include "support/eventually.h"
#include "support/thread_names.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

// Holds the first gesture that sleeps until release(), so a test can queue
// actions behind it.
class HeldPhone {
public:
    explicit HeldPhone(API& api) : api_(api) {
        api.post("/match");  // paired now, so no matching pass sleeps on the same clock later
        api.rig.clock.setOnSleep([this](Duration) {
            if (!held_.exchange(true)) {
                running_.signal();
                released_.wait();
            }
        });
    }
    ~HeldPhone() {
        release();
        api_.rig.clock.setOnSleep(nullptr);
    }
    void waitUntilRunning() { running_.wait(); }
    void release() {
        if (!released_once_.exchange(true)) released_.signal();
    }

private:
    API& api_;
    std::atomic<bool> held_{false};
    std::atomic<bool> released_once_{false};
    Semaphore running_;
    Semaphore released_;
};

const std::string kTapMiddle = R"({"x": 0.5, "y": 0.5, "fraction": true})";

size_t threadCount() { return threadNames().size(); }

// The threads of hosts' input queues ("quintalis.input.<host>", cut to 15 characters).
size_t inputThreads() { return threadNames().count("quintalis.input"); }

}  // namespace

TEST(Actions, OneRequestCannotAskForEndlessGestures) {
    TestPhone phone = testPhone(1, "Phone");
    API api({phone});
    EXPECT_EQ(error(api.post("/tap", R"({"x": 0.5, "y": 0.5, "fraction": true, "hold": 1e300})")),
              "hold must be between 0 and 10 seconds");
    EXPECT_EQ(api.post("/tap", R"({"x": 0.5, "y": 0.5, "fraction": true, "hold": -1e300})").status, 200);  // no hold
    EXPECT_EQ(error(api.post("/swipe", R"({"x1": 0, "y1": 0, "x2": 1, "y2": 1, "fraction": true, "duration": 11})")),
              "duration must be between 0 and 10 seconds");
    EXPECT_EQ(error(api.post("/nudge", R"({"dx": 5, "dy": -1e12})")), "dx and dy must be between -10000 and 10000");
    EXPECT_EQ(error(api.post("/type", JSON{{"text", std::string(4001, 'a')}}.dump())),
              "text is too long (at most 4000 characters)");
    // Only the one good tap reached the phone.
    EXPECT_EQ(api.sent(phone.host, 3), (std::vector<Bytes>{{1, 0, 0, 0}, {0, 0, 0, 0}}));
    EXPECT_TRUE(api.sent(phone.host, 1).empty());
}

TEST(Actions, PausingStopsARunningActionAndSaysHowFarItGot) {
    TestPhone phone = testPhone(1, "Phone");
    API api({phone});
    api.post("/match");
    api.defaults.setBool("paused", true);
    const std::string pausedMessage = *pauseReason(api.defaults);
    EXPECT_EQ(api.post("/tap", kTapMiddle).status, 423);
    EXPECT_TRUE(api.sent(phone.host, 2).empty());
    EXPECT_EQ(api.get("/screenshot").status, 200);
    api.defaults.setBool("paused", false);

    // Each plain letter is two steps: key down, key up. Pause after the 25th.
    std::atomic<int> sleeps{0};
    api.rig.clock.setOnSleep([&](Duration) {
        if (++sleeps == 50) api.defaults.setBool("paused", true);
    });
    auto typed = api.post("/type", JSON{{"text", std::string(150, 'a')}}.dump());
    EXPECT_EQ(error(typed), pausedMessage + "; paused after 25 of 150 characters");
    auto keys = api.sent(phone.host, 1);
    EXPECT_EQ(keys.size(), 50u);  // nothing typed after the pause
    EXPECT_EQ(keys.back(), keyboardReport(0, 0));

    // A long hold is cut short and the button let go.
    api.defaults.setBool("paused", false);
    sleeps = 0;
    api.rig.clock.setOnSleep([&](Duration) {
        if (++sleeps == 3) api.defaults.setBool("paused", true);
    });
    auto held = api.post("/tap", R"({"x": 0.5, "y": 0.5, "fraction": true, "hold": 10})");
    api.rig.clock.setOnSleep(nullptr);
    EXPECT_EQ(error(held), pausedMessage + "; paused during the tap");
    EXPECT_EQ(api.sent(phone.host, 3), (std::vector<Bytes>{{1, 0, 0, 0}, {0, 0, 0, 0}}));
    EXPECT_EQ(api.sent(phone.host, 2).back(), pointerAt(0.5, 0.5, 0));
}

TEST(Actions, APhoneHoldsEightWaitingActionsWhileReadsGoOn) {
    TestPhone phone = testPhone(1, "Phone");
    API api({phone});
    HeldPhone held(api);
    RawConnection first(api.engine->port());
    first.send(API::request("POST", "/tap", kTapMiddle));
    held.waitUntilRunning();

    std::vector<std::unique_ptr<RawConnection>> queued;
    for (int i = 0; i < 9; ++i) {
        queued.push_back(std::make_unique<RawConnection>(api.engine->port()));
        queued.back()->send(API::request("POST", "/tap", kTapMiddle));
    }
    // Exactly one of the nine finds eight waiting; its answer comes at once.
    std::optional<size_t> refused;
    for (int round = 0; round < 500 && !refused; ++round) {
        for (size_t i = 0; i < queued.size() && !refused; ++i) {
            if (!queued[i]->staysSilent(10)) refused = i;
        }
    }
    ASSERT_TRUE(refused);
    EXPECT_EQ(error(parseReply(queued[*refused]->readAll().value_or(""))), "Phone is busy: 8 actions are waiting");
    // Reading never waits behind the phone's actions.
    EXPECT_EQ(api.get("/status").status, 200);
    EXPECT_EQ(api.get("/screenshot?maxEdge=100").status, 200);

    held.release();
    EXPECT_EQ(parseReply(first.readAll().value_or("")).status, 200);
    for (size_t i = 0; i < queued.size(); ++i) {
        if (i != *refused) {
            EXPECT_EQ(parseReply(queued[i]->readAll().value_or("")).status, 200) << i;
        }
    }
    EXPECT_EQ(api.sent(phone.host, 3).size(), 2u * 9);
}

TEST(Actions, AnActionWhoseClientLeftIsDroppedOrStoppedAtItsNextStep) {
    TestPhone phone = testPhone(1, "Phone");
    API api({phone});
    HeldPhone held(api);
    HTTPRequest hold{"POST", "/tap", {}, parseJSON(R"({"x": 0.5, "y": 0.5, "fraction": true, "hold": 5})").value()};
    std::atomic<bool> gone{false};
    std::promise<std::optional<HTTPResponse>> firstAnswer, secondAnswer;
    api.routes.handle(hold, Responder([&](std::optional<HTTPResponse> r) { firstAnswer.set_value(std::move(r)); },
                                      [&] { return gone.load(); }));
    held.waitUntilRunning();  // the pointer is placed; the press comes next
    api.routes.handle(hold, Responder([&](std::optional<HTTPResponse> r) { secondAnswer.set_value(std::move(r)); },
                                      [&] { return gone.load(); }));
    gone = true;
    held.release();
    auto stopped = firstAnswer.get_future().get();
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->status, 423);
    EXPECT_FALSE(secondAnswer.get_future().get());  // closed without an answer
    EXPECT_TRUE(api.sent(phone.host, 3).empty());  // never pressed
    EXPECT_EQ(api.sent(phone.host, 2), std::vector<Bytes>{pointerAt(0.5, 0.5, 0)});  // nor sent to rest
    EXPECT_TRUE(api.logs.contains("dropped /tap for " + phone.id + ": its client has gone"));
}

TEST(Actions, AClientGoneMidSwipeLeavesThePhoneAndTheServerAsTheyWere) {
    TestPhone phone = testPhone(1, "Phone");
    API api({phone});
    api.post("/match");
    EXPECT_EQ(api.post("/tap", kTapMiddle).status, 200);
    const size_t idleThreads = threadCount();
    {
        HeldPhone held(api);
        auto swiping = std::make_unique<RawConnection>(api.engine->port());
        swiping->send(API::request("POST", "/swipe", R"({"x1": 0.2, "y1": 0.8, "x2": 0.2, "y2": 0.1, "fraction": true})"));
        held.waitUntilRunning();
        swiping.reset();
        // The next request waits behind the swipe on the phone's queue.
        RawConnection next(api.engine->port());
        next.send(API::request("POST", "/tap", kTapMiddle));
        EXPECT_TRUE(next.staysSilent(20));
        held.release();
        // Every step of the swipe draws the phone: slow under the sanitizers.
        auto reply = next.readAll(60'000);
        ASSERT_TRUE(reply);
        EXPECT_EQ(parseReply(*reply).status, 200);
    }
    // The swipe stopped at its next step if the server had seen its client
    // go by then, else it ran to the end: either way every press was
    // released, and the tap went where it was asked before the pointer went
    // to rest.
    auto pointer = api.sent(phone.host, 2);
    ASSERT_GE(pointer.size(), 2u);
    EXPECT_EQ(pointer[pointer.size() - 2], pointerAt(0.5, 0.5, 0));
    EXPECT_EQ(pointer.back(), pointerAt(1, 1, 0));
    const Bytes press{1, 0, 0, 0}, release{0, 0, 0, 0};
    auto buttons = api.sent(phone.host, 3);
    EXPECT_TRUE(buttons.size() == 4 || buttons.size() == 6) << buttons.size();
    for (size_t i = 0; i < buttons.size(); ++i) EXPECT_EQ(buttons[i], i % 2 == 0 ? press : release) << i;
    EXPECT_TRUE(eventually([&] { return api.engine->openConnections() == 0; }));
    // A request that arrives before the worker that answered the one before it
    // is back waiting makes its pool start another worker, so the pools may
    // have grown by one. Such a worker retires after five idle seconds; one
    // stuck on the departed client never does.
    EXPECT_TRUE(eventually([&] { return threadCount() <= idleThreads; }, 10));
}

// When the registry lets a host's input go while an action is still on it,
// the input's queue must still stop once the action is over, not wait on
// itself for ever.
TEST(Actions, AnInputLetGoDuringItsActionStopsAfterIt) {
    TestPhone phone = testPhone(1, "Phone");
    PhoneRig rig({phone});
    const size_t before = inputThreads();
    auto devices = std::make_unique<Devices>(rig.capture, rig.peripheral, rig.clock, rig.dir.path() / "other.json");
    Routes routes(rig.peripheral, *devices, rig.clock);
    std::weak_ptr<Input> input = devices->input(phone.host);
    Semaphore answering, answered;
    HTTPRequest tap{"POST", "/tap", {}, JSON{{"host", phone.host.string()}, {"x", 0.5}, {"y", 0.5}, {"fraction", true}}};
    routes.handle(tap, Responder([&](std::optional<HTTPResponse>) {
        answering.signal();
        answered.wait();
    }));
    answering.wait();
    EXPECT_GT(inputThreads(), before) << "the input's queue runs the tap";
    std::thread registryGoes([&] { devices.reset(); });
    EXPECT_TRUE(eventually([&] { return input.use_count() <= 1; }));
    answered.signal();
    EXPECT_TRUE(eventually([&] { return inputThreads() == before; }));
    registryGoes.join();
}
