#include <gtest/gtest.h>

#include <fstream>

#include "engine/app_info.h"
#include "engine/app_log.h"
#include "support/fake_platform.h"
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

    std::ofstream(dir.path() / "file") << "";
    AppLog dropped(dir.path() / "file" / "Quintalis.log");  // a file where a folder should be
    dropped.write("x\n");
    dropped.flush();  // nothing thrown, nothing written
}

TEST(AppLog, LineFormat) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(formatLogLine("engine: listening", 1769850307), "[2026-01-31T09:05:07] engine: listening\n");
}

TEST(AppInfo, FactsFromTheBundleAndTheHost) {
    quintalis::testing::FakeBundleInfo bundle;
    quintalis::testing::FakeHostEnvironment host;
    AppInfo info(bundle, host);
    EXPECT_EQ(info.version(), "dev");
    bundle.values["CFBundleShortVersionString"] = "1.2";
    EXPECT_EQ(info.version(), "1.2");
    bundle.values["QuintalisVersion"] = "1.2.3";
    EXPECT_EQ(info.version(), "1.2.3");

    EXPECT_EQ(info.macName(), "Test Computer");
    host.name.reset();
    EXPECT_EQ(info.macName(), "this Mac");

    EXPECT_EQ(info.cliPath(), "/opt/quintalis/Contents/MacOS/quintalis");
    info.setDisplayPathOverride("/Applications/Quintalis.app");
    EXPECT_EQ(info.cliPath(), "/Applications/Quintalis.app/Contents/MacOS/quintalis");
    EXPECT_FALSE(info.isInApplications());
    bundle.path = "/home/tester/Applications/Quintalis.app";
    EXPECT_TRUE(info.isInApplications());
}
