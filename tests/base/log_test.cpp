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

TEST(AppLog, StartsAfreshOnlyWhenTheFileIsOverTheLimitAtLaunch) {
    EXPECT_EQ(sizeAfterOneLine(2'000'000), 2'000'000u + 12);
    EXPECT_EQ(sizeAfterOneLine(2'000'001), 12u);
    EXPECT_EQ(sizeAfterOneLine(0), 12u);
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
    auto text = readFile(dir.path() / "Quintalis.log");
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->ends_with("] engine: listening\n")) << *text;
    EXPECT_EQ(text->front(), '[');
}

TEST(AppLog, LineFormat) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(formatLogLine("engine: listening", 1769850307), "[2026-01-31T09:05:07] engine: listening\n");
}
