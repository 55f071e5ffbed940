#include <gtest/gtest.h>

#include "engine/connection_roster.h"

using namespace quintalis;
using namespace std::chrono_literals;

TEST(ConnectionRoster, ThoseBeingAnsweredKeepTheirPlacesAndTheRestExpire) {
    const MonotonicTime t0{};
    ConnectionRoster roster(3, 10s);
    roster.admit(1, t0);
    roster.admit(2, t0 + 1s);
    roster.admit(3, t0 + 2s);
    roster.requestRead(1);  // being served: not evicted
    EXPECT_EQ(roster.admit(4, t0 + 3s).evicted, 2u);
    roster.requestRead(3);
    roster.requestRead(4);
    // With every place taken by a request being answered, newcomers wait outside.
    auto refused = roster.admit(5, t0 + 4s);
    EXPECT_FALSE(refused.admitted);
    EXPECT_FALSE(refused.evicted);
    roster.closed(4);
    EXPECT_TRUE(roster.admit(5, t0 + 4s).admitted);
    EXPECT_EQ(roster.nextDeadline(), t0 + 14s);
    EXPECT_EQ(roster.expire(t0 + 60s), std::vector<ConnectionRoster::ID>{5});
    // What was forgotten already is not counted twice when its socket closes.
    roster.closed(5);
    roster.closed(1);
    roster.closed(3);
    EXPECT_EQ(roster.open(), 0u);
}
