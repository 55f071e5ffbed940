#include "app/model/receiver_keeper.h"

#include <gtest/gtest.h>

#include "support/fake_clock.h"
#include "support/fake_receiver_process.h"
#include "support/outcome_printing.h"

using namespace quintalis;
using namespace quintalis::testing;
using Seconds = std::chrono::seconds;

namespace {

class ReceiverKeeperTest : public ::testing::Test {
protected:
    FakeReceiverProcess process;
    FakeClock clock;
    ReceiverKeeper keeper{process, clock, "Desk"};
};

TEST_F(ReceiverKeeperTest, RunsOneReceiverWhileAirPlayIsTheLinkAndNoneWhenItIsNot) {
    process.present = false;
    keeper.check(true);
    EXPECT_EQ(keeper.problem(), "UxPlay is not installed. Install it with: sudo apt install uxplay");
    process.present = true;  // installed while the app runs: no wait, it was never started
    keeper.check(true);
    keeper.check(true);
    EXPECT_EQ(process.starts, 1);
    EXPECT_EQ(process.lastName, "Desk");
    EXPECT_EQ(keeper.problem(), std::nullopt);
    keeper.check(false);
    EXPECT_EQ(process.stops, 1);
    EXPECT_FALSE(keeper.running());
    keeper.check(false);
    EXPECT_EQ(process.starts, 1) << "a cable needs no receiver";
}

TEST_F(ReceiverKeeperTest, RestartsAnExitWithAGrowingWaitAndSaysWhy) {
    const std::string why = "exited with status 1: DNS-SD (Avahi) is not available";
    keeper.check(true);
    // It keeps failing at once: 2 s, then 4 s, 8 s … up to a minute.
    std::vector<Seconds> waits;
    for (int run = 0; run < 7; ++run) {
        process.exits.push_back(why);
        keeper.check(true);
        ASSERT_FALSE(keeper.running());
        int startsBefore = process.starts;
        Seconds waited{0};
        while (process.starts == startsBefore && waited < Seconds(120)) {
            clock.advance(Seconds(1));
            waited += Seconds(1);
            keeper.check(true);
        }
        waits.push_back(waited);
    }
    EXPECT_EQ(waits, (std::vector<Seconds>{Seconds(2), Seconds(4), Seconds(8), Seconds(16), Seconds(32),
                                           Seconds(60), Seconds(60)}));
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
    EXPECT_EQ(keeper.startNow(), Outcome::success());
    EXPECT_TRUE(keeper.running());
}

}  // namespace
