#include <gtest/gtest.h>

#include <fstream>
#include <iostream>

#include "base/read_file.h"
#include "base/text.h"
#include "phones/pairings_store.h"
#include "support/kill_during_writes.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {
const UUID kH = *UUID::parse("11111111-2222-3333-4444-555555555555");
const UUID kK = *UUID::parse("AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE");
}  // namespace

TEST(PairingsStore, KeepsEveryValidMemberAndSaysWhichItLeftOut) {
    auto parsed = parsePairings(R"({"A": "11111111-2222-3333-4444-555555555555", "B": "not a uuid", "C": 5,)"
                                R"( "D": "aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee"})");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->pairings, (Pairings{{"A", kH}, {"D", kK}}));
    EXPECT_EQ(parsed->dropped, (std::vector<std::string>{R"("B": "not a uuid" is not a host UUID)",
                                                         R"("C": 5 is not a host UUID)"}));
    EXPECT_FALSE(parsePairings(R"(["11111111-2222-3333-4444-555555555555"])"));
    EXPECT_FALSE(parsePairings("{"));
    EXPECT_TRUE(loadPairings("/nonexistent/pairings.json", 0).empty());
}

TEST(PairingsStore, AFileThatCannotBeParsedIsMovedAsideNotOverwritten) {
    LogCapture logs;
    TempDir dir;
    auto file = dir.path() / "pairings.json";
    const std::string damaged = R"({"A": "11111111-2222-3333-4444-5555)";
    std::ofstream(file) << damaged;
    const int64_t when = 1'767'225'600'000;  // 2026-01-01T00:00:00Z
    EXPECT_TRUE(loadPairings(file, when).empty());
    auto aside = dir.path() / "pairings.json.corrupt-20260101T000000Z";
    ASSERT_TRUE(std::filesystem::exists(aside));
    EXPECT_EQ(readFile(aside), damaged);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(logs.contains("pairings: " + file.string() + " can't be read (not valid JSON); moved it to " +
                              aside.string()));
    // A second damaged file in the same second does not replace the first.
    std::ofstream(file) << "[]";
    loadPairings(file, when);
    EXPECT_EQ(readFile(dir.path() / "pairings.json.corrupt-20260101T000000Z-2"), "[]");
    EXPECT_EQ(readFile(aside), damaged);

    std::ofstream(file) << R"({"A": "11111111-2222-3333-4444-555555555555", "B": 7})";
    EXPECT_EQ(loadPairings(file, when), (Pairings{{"A", kH}}));
    EXPECT_TRUE(logs.contains(R"(pairings: left out "B": 7 is not a host UUID)"));
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
    EXPECT_EQ(loadPairings(dir.path() / "pairings.json", 0), pairings);
    EXPECT_FALSE(savePairings(dir.path() / "missing" / "pairings.json", pairings));
}

namespace {

// Each version names its own screen, among enough others that a write takes
// more than one system call.
Pairings version(int64_t number) {
    Pairings pairings{{"screen-" + std::to_string(number), UUID::fromName(std::to_string(number))}};
    for (int i = 0; i < 200; ++i) pairings["other-" + std::to_string(i)] = UUID::fromName("other " + std::to_string(i));
    return pairings;
}

}  // namespace

TEST(PairingsStore, AKilledWriterLeavesTheOldOrTheNewFileWhole) {
    TempDir dir(killTestFolder());
    auto file = dir.path() / "pairings.json";
    ASSERT_TRUE(savePairings(file, version(0)));
    bool loaded = false;  // in each writer, which starts with it false
    auto tally = killDuringWrites(
        file, 200,
        [&](int64_t number) {
            // As the registry does: load once (clearing what earlier writers
            // left), then save on each change.
            if (!loaded) loadPairings(file, 0);
            loaded = true;
            savePairings(file, version(number));
        },
        [&]() -> std::optional<int64_t> {
            auto text = readFile(file);
            auto parsed = text ? parsePairings(*text) : std::nullopt;
            if (!parsed) return std::nullopt;
            for (const auto& [screen, host] : parsed->pairings) {
                int64_t number = 0;
                if (!screen.starts_with("screen-") || parseDecimal(screen.substr(7), number) != DecimalParse::ok) continue;
                if (*text == formatPairings(version(number))) return number;
            }
            return std::nullopt;
        });
    EXPECT_EQ(tally.kills, 200);
    std::cout << "killed " << tally.kills << " times: " << tally.halfWritten << " halfway through a write, "
              << tally.inFlight << " after a write it had not reported\n";
    // Nothing was ever moved aside as unreadable, and what the killed writers
    // left beside the file is gone after loading.
    loadPairings(file, 0);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename(), "pairings.json");
    }
}
