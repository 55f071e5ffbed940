#include <gtest/gtest.h>

#include "engine/connection_roster.h"

using namespace quintalis;
using namespace std::chrono_literals;

namespace {

const MonotonicTime t0{};

}  // namespace

TEST(ConnectionRoster, AtCapacityTheLongestWaitingForItsRequestIsEvicted) {
    ConnectionRoster roster(3, 10s);
    EXPECT_TRUE(roster.admit(1, t0).admitted);
    EXPECT_TRUE(roster.admit(2, t0 + 1s).admitted);
    EXPECT_TRUE(roster.admit(3, t0 + 2s).admitted);

    // 1 sent its request: it is being served and keeps its place.
    roster.requestRead(1);
    auto admission = roster.admit(4, t0 + 3s);
    EXPECT_TRUE(admission.admitted);
    EXPECT_EQ(admission.evicted, 2u);
    EXPECT_EQ(roster.admit(5, t0 + 3s).evicted, 3u);
    EXPECT_EQ(roster.admit(6, t0 + 3s).evicted, 4u);
    EXPECT_EQ(roster.open(), 3u);

    // With every place taken by a request being answered, newcomers wait outside.
    roster.requestRead(5);
    roster.requestRead(6);
    auto refused = roster.admit(7, t0 + 4s);
    EXPECT_FALSE(refused.admitted);
    EXPECT_FALSE(refused.evicted);
    roster.closed(5);
    EXPECT_EQ(roster.admit(7, t0 + 4s).evicted, std::nullopt);
    EXPECT_EQ(roster.open(), 3u);
}

TEST(ConnectionRoster, ConnectionsExpireTenSecondsAfterAdmissionHoweverTheyDribble) {
    ConnectionRoster roster(10, 10s);
    roster.admit(1, t0);
    roster.admit(2, t0 + 2s);
    roster.admit(3, t0 + 2s);
    roster.requestRead(3);
    EXPECT_EQ(roster.nextDeadline(), t0 + 10s);

    EXPECT_TRUE(roster.expire(t0 + 10s - 1ns).empty());
    EXPECT_EQ(roster.expire(t0 + 10s), std::vector<ConnectionRoster::ID>{1});
    EXPECT_EQ(roster.nextDeadline(), t0 + 12s);
    EXPECT_EQ(roster.expire(t0 + 60s), std::vector<ConnectionRoster::ID>{2});
    EXPECT_EQ(roster.nextDeadline(), std::nullopt);
    EXPECT_EQ(roster.open(), 1u);

    // What was forgotten already is not counted twice when its socket closes.
    roster.closed(1);
    roster.closed(3);
    EXPECT_EQ(roster.open(), 0u);
    EXPECT_EQ(roster.waiting(), 0u);
}
