#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <fstream>

#include "base/json.h"
#include "base/read_file.h"
#include "base/text.h"
#include "phones/pairings_store.h"
#include "support/kill_during_writes.h"
#include "support/log_capture.h"
#include "support/outcome_printing.h"
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
    EXPECT_TRUE(loadPairings("/nonexistent/pairings.json", 0).empty());
}

TEST(PairingsStore, AFileThatCannotBeReadIsMovedAsideNotOverwritten) {
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

    // Unreadable (a folder where the file should be): moved aside too, or
    // every later save would fail on it.
    std::filesystem::create_directory(file);
    const int64_t later = when + 1000;
    EXPECT_TRUE(loadPairings(file, later).empty());
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "pairings.json.corrupt-20260101T000001Z"));
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(PairingsStore, ADeepFileIsMovedAsideAndWhatIsLeftOutIsLoggedShort) {
    LogCapture logs;
    TempDir dir;
    auto file = dir.path() / "pairings.json";
    std::ofstream(file) << std::string(100'000, '[') + std::string(100'000, ']');
    EXPECT_TRUE(loadPairings(file, 0).empty());
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "pairings.json.corrupt-19700101T000000Z"));

    const std::string id(1'000'000, 'i');
    std::ofstream(file) << R"({")" + id + R"(": ")" + std::string(1'000'000, 'v') + R"("})";
    EXPECT_TRUE(loadPairings(file, 0).empty());
    EXPECT_TRUE(logs.contains("pairings: left out \"" + id.substr(0, kLoggedValueLimit) + "\u2026\": \"" +
                              std::string(kLoggedValueLimit - 1, 'v') + "\u2026 is not a host UUID"));

    JSON members = JSON::object();
    for (int i = 0; i < 1000; ++i) members["screen" + std::to_string(i)] = i;
    std::ofstream(file) << members.dump();
    size_t before = logs.lines().size();
    EXPECT_TRUE(loadPairings(file, 0).empty());
    EXPECT_EQ(logs.lines().size() - before, kLeftOutLinesShown + 1);
    EXPECT_TRUE(logs.contains("pairings: left out 990 more members"));
}

TEST(PairingsStore, RoundTripsAndAWriteThatFailsSaysWhyAndLeavesTheOldFile) {
    TempDir dir;
    auto file = dir.path() / "pairings.json";
    const Pairings old{{"00008120-000A1B2C3D4E5F01", kH}, {"B", kK}};
    ASSERT_EQ(savePairings(file, old), Outcome::success());
    EXPECT_EQ(loadPairings(file, 0), old);
    auto missing = dir.path() / "missing" / "pairings.json";
    EXPECT_EQ(savePairings(missing, old),
              Outcome::failure("could not write " + missing.string() + ": No such file or directory"));
    // As a full disk would: the file system takes a few bytes, then no more.
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limits{};
    getrlimit(RLIMIT_FSIZE, &limits);
    rlimit tiny = limits;
    tiny.rlim_cur = 8;
    setrlimit(RLIMIT_FSIZE, &tiny);
    auto failure = savePairings(file, Pairings{{"B", kK}});
    setrlimit(RLIMIT_FSIZE, &limits);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(failure, Outcome::failure("could not write " + file.string() + ": File too large"));
    EXPECT_EQ(readFile(file), formatPairings(old));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(PairingsStore, AHostBelongsToOneScreen) {
    Pairings pairings{{"A", kH}, {"C", kK}};
    assignHost(pairings, "B", kH);
    EXPECT_EQ(pairings, (Pairings{{"B", kH}, {"C", kK}}));
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
    ASSERT_EQ(savePairings(file, version(0)), Outcome::success());
    bool loaded = false;  // in each writer, which starts with it false
    auto tally = killDuringWrites(
        file, 200,
        [&](int64_t number) {
            // As the registry does: load once (clearing what earlier writers
            // left), then save on each change.
            if (!loaded) loadPairings(file, 0);
            loaded = true;
            (void)savePairings(file, version(number));
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
    // Nothing was ever moved aside as unreadable, and what the killed writers
    // left beside the file is gone after loading.
    loadPairings(file, 0);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename(), "pairings.json");
    }
}
