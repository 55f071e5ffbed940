#include <gtest/gtest.h>

#include <fstream>

#include "base/app_log.h"
#include "base/log.h"
#include "base/read_file.h"
#include "support/temp_dir.h"

using namespace quintalis;
using quintalis::testing::TempDir;

namespace {

std::uintmax_t sizeAfterOneLine(std::uintmax_t existing) {
    TempDir dir;
    auto file = dir.path() / "logs" / "Quintalis.log";
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << std::string(existing, 'x');
    AppLog log(file);
    log.write("line\n");
    log.write("second\n");
    log.flush();
    return std::filesystem::file_size(file);
}

}  // namespace

TEST(AppLog, StartsAfreshWhenTheFileIsOverTheLimitAtLaunchOrWhileRunning) {
    EXPECT_EQ(sizeAfterOneLine(2'000'000 - 5), 2'000'000u + 7);
    EXPECT_EQ(sizeAfterOneLine(2'000'000), 7u) << "over the limit after the first line: the next starts afresh";
    EXPECT_EQ(sizeAfterOneLine(2'000'001), 12u);

    // However much is written, the file stays within the limit and a line.
    TempDir dir;
    auto file = dir.path() / "Quintalis.log";
    AppLog log(file);
    const std::string line(999, 'x');
    for (int i = 0; i < 5000; ++i) log.write(line + "\n");
    log.flush();
    EXPECT_LE(std::filesystem::file_size(file), AppLog::kRotateBytes + 1000);
    EXPECT_GT(std::filesystem::file_size(file), 0u);
}

// The engine, the MCP server and the app append to one file: when one of
// them starts it afresh, the others' lines still land in it.
TEST(AppLog, EveryProcessKeepsWritingIntoTheFileAnyOfThemStartedAfresh) {
    TempDir dir;
    auto file = dir.path() / "Quintalis.log";
    AppLog engine(file), server(file);
    server.write("server starts\n");
    server.flush();
    std::string filling(AppLog::kRotateBytes, 'x');
    filling += '\n';
    engine.write(filling);
    engine.write("engine goes on\n");
    engine.flush();
    server.write("server goes on\n");
    server.flush();
    EXPECT_EQ(readFile(file).value_or(""), "engine goes on\nserver goes on\n");
}

TEST(AppLog, CreatesItsFolderAndSurvivesAnUnwritableLocation) {
    TempDir dir;
    AppLog created(dir.path() / "a" / "b" / "Quintalis.log");
    created.write("x\n");
    created.flush();
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "a" / "b" / "Quintalis.log"));

    std::ofstream(dir.path() / "file") << "kept";
    AppLog dropped(dir.path() / "file" / "Quintalis.log");  // a file where a folder should be
    EXPECT_NO_THROW({
        dropped.write("x\n");
        dropped.flush();
    });
    // Nothing written, and the file in the way is left as it was.
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.path() / "file"));
    EXPECT_EQ(std::filesystem::file_size(dir.path() / "file"), 4u);
}

TEST(Log, LinesAlsoGoToTheChosenFile) {
    TempDir dir;
    // Process-wide, like the program's own log file: never destroyed.
    AppLog& file = *new AppLog(dir.path() / "Quintalis.log");
    setLogFile(file);
    log("engine: listening");
    flushLog();
    EXPECT_TRUE(readFile(dir.path() / "Quintalis.log").value_or("").ends_with("] engine: listening\n"));
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(formatLogLine("engine: listening", 1769850307), "[2026-01-31T09:05:07] engine: listening\n");
}

TEST(Log, ValuesFromOutsideAreShortAndStayOnTheirLine) {
    EXPECT_EQ(loggable("/a\r\n[2026-01-01T00:00:00] forged\x7f"), "/a??[2026-01-01T00:00:00] forged?");
    EXPECT_EQ(loggable(std::string(1'000'000, 'a')), std::string(kLoggedValueLimit, 'a').append("\u2026"));
    // A character the cut falls inside goes whole; one that fits stays.
    EXPECT_EQ(loggable("ab\u00e9", 3), "ab\u2026");
    EXPECT_EQ(loggable("a\u00e9c", 3), "a\u00e9\u2026");
    EXPECT_EQ(loggable("\U0001F600\U0001F600", 7), "\U0001F600\u2026");

    // A whole line is cut too, whoever built it.
    std::vector<std::string> seen;
    setLogSink([&](const std::string& message) { seen.push_back(message); });
    log("refused " + std::string(5'000'000, 'z'));
    setLogSink(nullptr);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "refused " + std::string(kLoggedLineLimit - 8, 'z') + "\u2026");
}
