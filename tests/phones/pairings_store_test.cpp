#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "phones/pairings_store.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {
const UUID kH = *UUID::parse("11111111-2222-3333-4444-555555555555");
const UUID kK = *UUID::parse("AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE");
}  // namespace

TEST(PairingsStore, ReadsOnlyAnObjectOfUUIDStrings) {
    EXPECT_EQ(parsePairings(R"({"A": "11111111-2222-3333-4444-555555555555", "B": "not a uuid"})"),
              (Pairings{{"A", kH}}));
    EXPECT_EQ(parsePairings(R"({"A": "aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee"})"), (Pairings{{"A", kK}}));
    EXPECT_TRUE(parsePairings(R"({"A": 5})").empty());
    EXPECT_TRUE(parsePairings(R"({"A": "11111111-2222-3333-4444-555555555555", "B": 5})").empty());
    EXPECT_TRUE(parsePairings(R"(["11111111-2222-3333-4444-555555555555"])").empty());
    EXPECT_TRUE(parsePairings("{").empty());
    EXPECT_TRUE(loadPairings("/nonexistent/pairings.json").empty());
}

TEST(PairingsStore, AHostBelongsToOneScreen) {
    Pairings pairings{{"A", kH}, {"C", kK}};
    assignHost(pairings, "B", kH);
    EXPECT_EQ(pairings, (Pairings{{"B", kH}, {"C", kK}}));
}

TEST(PairingsStore, RoundTripsThroughTheFile) {
    TempDir dir;
    Pairings pairings{{"00008120-000A1B2C3D4E5F01", kH}, {"B", kK}};
    ASSERT_TRUE(savePairings(dir.path() / "pairings.json", pairings));
    EXPECT_EQ(loadPairings(dir.path() / "pairings.json"), pairings);
    EXPECT_FALSE(savePairings(dir.path() / "missing" / "pairings.json", pairings));
}

TEST(PairingsStore, AKilledWriterNeverLeavesAnUnreadableFile) {
    TempDir dir;
    auto file = dir.path() / "pairings.json";
    Pairings big;
    for (int i = 0; i < 2000; ++i) big["screen-" + std::to_string(i)] = UUID::fromName(std::to_string(i));
    ASSERT_TRUE(savePairings(file, big));
    for (int round = 0; round < 5; ++round) {
        pid_t child = fork();
        if (child == 0) {
            for (;;) savePairings(file, big);
        }
        usleep(20000 + round * 7000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        EXPECT_EQ(loadPairings(file).size(), big.size()) << round;
    }
}
