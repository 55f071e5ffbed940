#include <gtest/gtest.h>

#include "base/semaphore.h"
#include "phones/matching.h"
#include "support/eventually.h"
#include "support/log_capture.h"
#include "support/phone_rig.h"

using namespace quintalis;
using namespace quintalis::testing;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> linesStartingWith(const LogCapture& logs, const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& line : logs.lines()) {
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
    }
    return found;
}
}  // namespace

TEST(MatchingRules, SpotWindowsDecisionsAndVisibleChanges) {
    using namespace matching;
    std::vector<uint8_t> a(90 * 195, 100);
    std::vector<uint8_t> b = a;
    // Column 62, not 63: a change only in column 70 (63 + 7) lies outside the second spot's window.
    for (int r = 0; r < 195; ++r) b[r * 90 + 70] = 200;
    EXPECT_EQ(changed(a, b, kSecond), 0);
    for (int r = 0; r < 195; ++r) b[r * 90 + 69] = 200;
    EXPECT_EQ(changed(a, b, kSecond), 15);
    // A change of 12 grey levels is not a change; 13 is.
    std::vector<uint8_t> c(90 * 195, 100);
    c[68 * 90 + 27] = 112;
    EXPECT_EQ(changed(a, c, kFirst), 0);
    c[68 * 90 + 27] = 87;
    EXPECT_EQ(changed(a, c, kFirst), 1);

    EXPECT_EQ(decide({41, -2}), 0u);
    EXPECT_EQ(decide({-2, 41}), 1u);
    EXPECT_FALSE(decide({10, 5}));  // the best must score more than twice the next
    EXPECT_EQ(decide({11, 5}), 0u);
    EXPECT_EQ(decide({3}), 0u);
    EXPECT_FALSE(decide({2}));
    EXPECT_FALSE(decide({}));
    EXPECT_FALSE(decide({5, 5}));

    // One changed pixel, however far, is noise; two are a change.
    c[5000] = 112;
    EXPECT_FALSE(visiblyChanged(a, c));
    c[5000] = 87;
    EXPECT_TRUE(visiblyChanged(a, c));
    EXPECT_TRUE(visiblyChanged({}, a));
}

TEST(Matching, OneScreenAndOneHostPairWithoutMovingThePointer) {
    LogCapture logs;
    PhoneRig rig({testPhone(1, "Solo")});
    auto found = rig.devices.match(false, false);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.begin()->second, rig.phone(0).host);
    EXPECT_EQ(rig.phone(0).reports, 0);
    EXPECT_TRUE(linesStartingWith(logs, "probe").empty());
    EXPECT_EQ(loadPairings(rig.devices.pairingsFile(), 0).at(rig.phone(0).id), rig.phone(0).host);
    // Everything is paired now: another pass does nothing, silently.
    size_t lines = logs.lines().size();
    EXPECT_TRUE(rig.devices.match(false, false).empty());
    EXPECT_EQ(logs.lines().size(), lines);
}

TEST(Matching, OnlyOneScreenWithOneHostSkipsTheProbe) {
    // A second screen without a host of its own, or a second host without a
    // screen: the pointer must show which goes with which.
    LogCapture logs;
    PhoneRig spareScreen({testPhone(2, "Solo")});
    spareScreen.captureDevices.plug(iPhone(testPhone(1, "Spare").id, "Spare"));
    auto found = spareScreen.devices.match(false, false);
    EXPECT_EQ(found, (std::map<std::string, UUID>{{spareScreen.phone(0).id, spareScreen.phone(0).host}}));
    EXPECT_EQ(linesStartingWith(logs, "probe").size(), 1u);

    PhoneRig spareHost({testPhone(1, "Gone"), testPhone(2, "Solo")});
    spareHost.captureDevices.unplug(spareHost.phone(0).id);
    found = spareHost.devices.match(false, false);
    EXPECT_EQ(found, (std::map<std::string, UUID>{{spareHost.phone(1).id, spareHost.phone(1).host}}));
    EXPECT_EQ(linesStartingWith(logs, "probe").size(), 3u);
}

TEST(Matching, AlwaysProbeStillNeedsThePointerToShow) {
    LogCapture logs;
    PhoneRig rig({testPhone(1, "Solo")});
    auto found = rig.devices.match(false, true);
    EXPECT_EQ(found.size(), 1u);
    EXPECT_GT(rig.phone(0).reports, 0);

    LogCapture hiddenLogs;
    TestPhone hidden = testPhone(2, "Hidden");
    hidden.pointerVisible = false;
    PhoneRig blind({hidden});
    EXPECT_TRUE(blind.devices.match(false, true).empty());
    EXPECT_EQ(linesStartingWith(hiddenLogs, "probe"),
              std::vector<std::string>{"probe " + hidden.host.string() + ": Hidden=0"});
}

TEST(Matching, EachHostFindsItsOwnScreen) {
    LogCapture logs;
    PhoneRig rig({testPhone(1, "Work iPhone"), testPhone(2, "Home iPhone")});
    auto found = rig.devices.match(false, false);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found.at(rig.phone(0).id), rig.phone(0).host);
    EXPECT_EQ(found.at(rig.phone(1).id), rig.phone(1).host);
    auto probes = linesStartingWith(logs, "probe");
    ASSERT_EQ(probes.size(), 2u);
    // The second host is probed only against the screen that is left.
    EXPECT_EQ(std::count(probes[1].begin(), probes[1].end(), '='), 1);
    for (const auto& device : rig.devices.all()) EXPECT_TRUE(device.host);

    // Forced, every screen counts as unmatched again, and the answer is the same.
    auto again = rig.devices.match(true, false);
    EXPECT_EQ(again, found);
}

TEST(Matching, AFullScreenChangeAndALockedScreenAreNotChosen) {
    LogCapture logs;
    TestPhone video = testPhone(1, "Video");
    video.flicker = true;
    video.pointerVisible = false;
    TestPhone locked = testPhone(2, "Locked");
    locked.locked = true;
    PhoneRig rig({video, locked});
    EXPECT_TRUE(rig.devices.match(false, false).empty());
    auto probes = linesStartingWith(logs, "probe");
    ASSERT_EQ(probes.size(), 2u);
    for (const auto& probe : probes) EXPECT_NE(probe.find("Video=0"), std::string::npos) << probe;
}

TEST(Matching, AHostWhoseScreenIsGoneCanBeGivenToANewScreen) {
    LogCapture logs;
    PhoneRig rig({testPhone(1, "Old"), testPhone(2, "Other")});
    const TestPhone old = rig.phone(0);
    rig.devices.match(false, false);
    rig.captureDevices.unplug(old.id);
    // The same host's phone comes back as a new screen (a new cable, a new
    // capture id); the rig draws it in the old one's slot.
    rig.phone(0).id = "00008120-0000000000099";
    rig.phone(0).name = "New";
    rig.plug(rig.phone(0));
    auto found = rig.devices.match(false, false);
    EXPECT_EQ(found, (std::map<std::string, UUID>{{rig.phone(0).id, old.host}}));
    auto stored = loadPairings(rig.devices.pairingsFile(), 0);
    EXPECT_FALSE(stored.count(old.id));
    EXPECT_EQ(stored.at(rig.phone(0).id), old.host);
}

TEST(MatchScheduling, TriggersCoalesceAndATriggerDuringAPassGivesOneMore) {
    LogCapture logs;
    TestPhone a = testPhone(1, "A");
    a.pointerVisible = false;  // never decided, so every pass probes and logs
    PhoneRig rig({a, testPhone(2, "B")});
    rig.phone(1).pointerVisible = false;

    Semaphore delayEntered, releaseDelay, settleEntered, releaseSettle;
    std::atomic<bool> holdSettle{false};
    rig.clock.setOnSleep([&](Duration duration) {
        if (duration == seconds(Devices::kScheduleDelay)) {
            delayEntered.signal();
            releaseDelay.wait();
        } else if (duration == seconds(matching::kSettle) && holdSettle.exchange(false)) {
            settleEntered.signal();
            releaseSettle.wait();
        }
    });
    rig.devices.start();

    // Three triggers while the first is waiting out its delay: one pass.
    rig.captureDevices.plug(CaptureDeviceInfo{"c1", "Camera", "UVC", true});  // no change: no trigger
    rig.plug(rig.phone(0));  // same screens: no trigger either
    TestPhone c = testPhone(3, "C");
    c.locked = true;
    rig.captureDevices.plug(iPhone(c.id, c.name));
    ASSERT_TRUE(delayEntered.waitFor(5s));
    rig.captureDevices.unplug(c.id);
    rig.captureDevices.plug(iPhone(c.id, c.name));
    holdSettle = true;
    releaseDelay.signal();

    // A trigger while that pass runs schedules exactly one more.
    ASSERT_TRUE(settleEntered.waitFor(5s));
    rig.captureDevices.unplug(c.id);
    rig.captureDevices.plug(iPhone(c.id, c.name));
    releaseSettle.signal();
    ASSERT_TRUE(delayEntered.waitFor(5s));
    releaseDelay.signal();

    // Each pass probes both hosts.
    EXPECT_TRUE(eventually([&] { return linesStartingWith(logs, "probe").size() == 4; }));
    rig.clock.setOnSleep(nullptr);
    rig.devices.match(false, false);  // waits for anything still queued
    EXPECT_EQ(linesStartingWith(logs, "probe").size(), 6u);  // the two automatic passes, then this one
}
