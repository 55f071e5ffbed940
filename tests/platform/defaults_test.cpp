#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "base/read_file.h"
#include "platform/linux/json_file_defaults.h"
#include "platform/linux/linux_host_environment.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

using namespace quintalis;
using quintalis::testing::FakeClock;
using quintalis::testing::LogCapture;
using quintalis::testing::TempDir;

TEST(JSONFileDefaults, KeepsTypedValuesAndEveryReadSeesTheLatestWriter) {
    TempDir dir;
    auto file = dir.path() / "quintalis" / "defaults.json";
    {
        JSONFileDefaults defaults(file);
        defaults.setBool("paused", true);
        defaults.setInt("step", 3);
        defaults.setString("link", "usb");
        defaults.remove("step");
    }
    JSONFileDefaults reader(file), writer(file);
    EXPECT_EQ(reader.boolValue("paused"), true);
    EXPECT_EQ(reader.stringValue("link"), "usb");
    EXPECT_FALSE(reader.intValue("step"));
    EXPECT_FALSE(reader.stringValue("paused"));  // a bool is not a string
    for (bool paused : {false, true, false}) {
        writer.setBool("paused", paused);
        EXPECT_EQ(reader.boolForKey("paused"), paused);
    }
}

TEST(JSONFileDefaults, TwoProcessesWritingDifferentKeysLoseNothing) {
    TempDir dir;
    auto file = dir.path() / "defaults.json";
    pid_t child = fork();
    if (child == 0) {
        JSONFileDefaults defaults(file);
        for (int i = 0; i < 50; ++i) defaults.setInt("child" + std::to_string(i), i);
        _exit(0);
    }
    JSONFileDefaults defaults(file);
    for (int i = 0; i < 50; ++i) defaults.setInt("parent" + std::to_string(i), i);
    waitpid(child, nullptr, 0);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(defaults.intValue("child" + std::to_string(i)), i);
        EXPECT_EQ(defaults.intValue("parent" + std::to_string(i)), i);
    }
}

// An unreadable file is a problem, said once per change, until the next
// write moves it aside (never over an earlier copy) and starts afresh.
TEST(JSONFileDefaults, ADamagedFileIsAProblemUntilTheNextWriteKeepsItBeside) {
    LogCapture logs;
    TempDir dir;
    auto file = dir.path() / "defaults.json";
    FakeClock clock;  // 2026-01-01T00:00:00Z
    JSONFileDefaults defaults(file, clock);
    EXPECT_FALSE(defaults.problem()) << "no file yet is no problem";
    const std::string damaged = "{\"paused\": tru";
    std::ofstream(file) << damaged;
    EXPECT_FALSE(defaults.boolValue("paused"));
    EXPECT_EQ(defaults.problem(), file.string() + " can't be read (not valid JSON)");
    std::ofstream(file) << "[1]";
    EXPECT_EQ(defaults.problem(), file.string() + " can't be read (not a JSON object)");
    EXPECT_EQ(logs.lines().size(), 2u);
    std::ofstream(file) << damaged;

    defaults.setBool("paused", false);
    EXPECT_EQ(defaults.problem(), std::nullopt);
    EXPECT_EQ(JSONFileDefaults(file).boolValue("paused"), false);
    auto aside = dir.path() / "defaults.json.corrupt-20260101T000000Z";
    EXPECT_EQ(readFile(aside), damaged);
    EXPECT_TRUE(logs.contains("preferences: " + file.string() + " can't be read (not valid JSON); kept it as " +
                              aside.string()));

    std::ofstream(file) << "[]";
    defaults.setBool("setupDone", true);
    EXPECT_EQ(readFile(dir.path() / "defaults.json.corrupt-20260101T000000Z-2"), "[]");
    EXPECT_EQ(readFile(aside), damaged);
    EXPECT_EQ(defaults.boolValue("setupDone"), true);
}

TEST(JSONFileDefaults, HandWrittenTruthsCount) {
    TempDir dir;
    auto file = dir.path() / "defaults.json";
    JSONFileDefaults defaults(file);
    const std::pair<const char*, bool> cases[] = {{"true", true}, {"\"Yes\"", true}, {"\"1\"", true}, {"2", true},
                                                  {"0", false},   {"\"no\"", false}, {"false", false}};
    for (const auto& [value, expected] : cases) {
        std::ofstream(file) << "{\"paused\": " << value << "}";
        EXPECT_EQ(defaults.boolForKey("paused"), expected) << value;
    }
}

TEST(LinuxHostEnvironment, PrettyHostnameComesFromMachineInfo) {
    EXPECT_EQ(prettyHostname("PRETTY_HOSTNAME=\"Ada's Laptop\"\nCHASSIS=laptop\n"), "Ada's Laptop");
    EXPECT_FALSE(prettyHostname("PRETTY_HOSTNAME=\"\"\n"));
    TempDir dir;
    std::ofstream(dir.path() / "machine-info") << "PRETTY_HOSTNAME='Grace'\n";
    EXPECT_EQ(LinuxHostEnvironment(dir.path() / "machine-info").computerName(), "Grace");
    EXPECT_TRUE(LinuxHostEnvironment(dir.path() / "missing").computerName()) << "the kernel's hostname";
}
