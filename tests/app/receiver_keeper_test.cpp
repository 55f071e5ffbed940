#include "app/model/receiver_keeper.h"

#include <gtest/gtest.h>

#include "support/fake_clock.h"
#include "support/fake_receiver_process.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

class ReceiverKeeperTest : public ::testing::Test {
protected:
    FakeReceiverProcess process;
    FakeClock clock;
    ReceiverKeeper keeper{process, clock, "Desk"};
};

TEST_F(ReceiverKeeperTest, StartsWhileAirPlayIsTheLinkAndStopsWhenItIsNot) {
    keeper.check(false);
    EXPECT_EQ(process.starts, 0) << "a cable needs no receiver";
    keeper.check(true);
    EXPECT_EQ(process.starts, 1);
    EXPECT_EQ(process.lastName, "Desk");
    EXPECT_TRUE(keeper.running());
    keeper.check(true);
    EXPECT_EQ(process.starts, 1) << "one at a time";
    keeper.check(false);
    EXPECT_EQ(process.stops, 1);
    EXPECT_FALSE(keeper.running());
}

TEST_F(ReceiverKeeperTest, RestartsAnExitWithAGrowingWaitAndSaysWhy) {
    const std::string why = "exited with status 1: DNS-SD (Avahi) is not available";
    keeper.check(true);
    // It keeps failing at once: 2 s, then 4 s, 8 s … up to a minute.
    std::vector<std::chrono::seconds> waits;
    for (int run = 0; run < 7; ++run) {
        process.exits.push_back(why);
        keeper.check(true);
        ASSERT_FALSE(keeper.running());
        EXPECT_EQ(keeper.problem(), "UxPlay stopped: " + why);
        int startsBefore = process.starts;
        std::chrono::seconds waited{0};
        while (process.starts == startsBefore) {
            clock.advance(std::chrono::seconds(1));
            waited += std::chrono::seconds(1);
            keeper.check(true);
            ASSERT_LT(waited, std::chrono::seconds(120));
        }
        waits.push_back(waited);
    }
    EXPECT_EQ(waits, (std::vector<std::chrono::seconds>{std::chrono::seconds(2), std::chrono::seconds(4),
                                                        std::chrono::seconds(8), std::chrono::seconds(16),
                                                        std::chrono::seconds(32), std::chrono::seconds(60),
                                                        std::chrono::seconds(60)}));
    EXPECT_EQ(keeper.problem(), "UxPlay stopped: " + why) << "kept until it runs steadily";

    // Once it has run a while, the problem is over and the next exit is tried again soon.
    clock.advance(ReceiverKeeper::kSteady);
    keeper.check(true);
    EXPECT_EQ(keeper.problem(), std::nullopt);
    const std::string killed = "ended by signal Killed";
    process.exits.push_back(killed);
    keeper.check(true);
    EXPECT_EQ(keeper.problem(), "UxPlay stopped: " + killed);
    clock.advance(ReceiverKeeper::kFirstWait);
    keeper.check(true);
    EXPECT_TRUE(keeper.running());

    // The user's button does not wait.
    process.exits.push_back(why);
    keeper.check(true);
    ASSERT_FALSE(keeper.running());
    EXPECT_EQ(keeper.startNow(), std::nullopt);
    EXPECT_TRUE(keeper.running());
}

TEST_F(ReceiverKeeperTest, NoticesUxPlayInstalledWhileTheAppRuns) {
    process.present = false;
    keeper.check(true);
    EXPECT_FALSE(keeper.installed());
    EXPECT_EQ(keeper.problem(), "UxPlay is not installed. Install it with: sudo apt install uxplay");
    process.present = true;
    keeper.check(true);
    EXPECT_TRUE(keeper.installed());
    EXPECT_TRUE(keeper.running()) << "no wait: it was never started";
    EXPECT_EQ(keeper.problem(), std::nullopt);
}

}  // namespace
