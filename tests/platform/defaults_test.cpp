#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/linux/json_file_defaults.h"
#include "platform/linux/linux_host_environment.h"
#include "base/read_file.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

using namespace quintalis;
using quintalis::testing::FakeClock;
using quintalis::testing::LogCapture;
using quintalis::testing::TempDir;

TEST(JSONFileDefaults, KeepsTypedValuesAcrossInstances) {
    TempDir dir;
    auto file = dir.path() / "quintalis" / "defaults.json";
    {
        JSONFileDefaults defaults(file);
        EXPECT_FALSE(defaults.boolForKey("paused"));
        defaults.setBool("paused", true);
        defaults.setInt("step", 3);
        defaults.setString("link", "usb");
        defaults.remove("step");
    }
    JSONFileDefaults reopened(file);
    EXPECT_EQ(reopened.boolValue("paused"), true);
    EXPECT_EQ(reopened.stringValue("link"), "usb");
    EXPECT_FALSE(reopened.intValue("step"));
    EXPECT_FALSE(reopened.stringValue("paused"));  // a bool is not a string
}

TEST(JSONFileDefaults, EveryReadSeesAnotherWritersLatestValue) {
    TempDir dir;
    auto file = dir.path() / "defaults.json";
    JSONFileDefaults reader(file);
    JSONFileDefaults writer(file);
    for (int i = 0; i < 20; ++i) {
        writer.setBool("paused", i % 2 == 0);
        EXPECT_EQ(reader.boolForKey("paused"), i % 2 == 0) << i;
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
    int status = 0;
    waitpid(child, &status, 0);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(defaults.intValue("child" + std::to_string(i)), i);
        EXPECT_EQ(defaults.intValue("parent" + std::to_string(i)), i);
    }
}

TEST(JSONFileDefaults, ADamagedFileIsKeptBesideAndItsProblemEndsWithTheNextWrite) {
    LogCapture logs;
    TempDir dir;
    auto file = dir.path() / "defaults.json";
    const std::string damaged = "{\"paused\": tru";
    std::ofstream(file) << damaged;
    FakeClock clock;  // 2026-01-01T00:00:00Z
    JSONFileDefaults defaults(file, clock);
    EXPECT_FALSE(defaults.boolValue("paused"));
    ASSERT_TRUE(defaults.problem());

    // The user's untick of the pause that the damage caused.
    defaults.setBool("paused", false);
    EXPECT_EQ(defaults.problem(), std::nullopt) << "the file is whole again";
    EXPECT_EQ(defaults.boolValue("paused"), false);
    EXPECT_EQ(JSONFileDefaults(file).boolValue("paused"), false);
    auto aside = dir.path() / "defaults.json.corrupt-20260101T000000Z";
    EXPECT_EQ(readFile(aside), damaged) << "kept as it was";
    EXPECT_TRUE(logs.contains("preferences: " + file.string() + " can't be read (not valid JSON); kept it as " +
                              aside.string()));

    // Damaged again within the same second: a second copy, not over the first.
    std::ofstream(file) << "[]";
    ASSERT_TRUE(defaults.problem());
    defaults.setBool("setupDone", true);
    EXPECT_EQ(readFile(dir.path() / "defaults.json.corrupt-20260101T000000Z-2"), "[]");
    EXPECT_EQ(readFile(aside), damaged);
    EXPECT_EQ(defaults.boolValue("setupDone"), true);
    EXPECT_FALSE(defaults.problem());
}

TEST(JSONFileDefaults, AFileThatCannotBeReadIsAProblemLoggedOncePerChange) {
    LogCapture logs;
    TempDir dir;
    auto file = dir.path() / "defaults.json";
    JSONFileDefaults defaults(file);
    EXPECT_FALSE(defaults.problem());  // no file yet is no problem
    std::ofstream(file) << R"({"paused": fals)";
    const std::string damaged = file.string() + " can't be read (not valid JSON)";
    EXPECT_EQ(defaults.problem(), damaged);
    EXPECT_FALSE(defaults.boolForKey("paused"));
    EXPECT_EQ(defaults.problem(), damaged);
    EXPECT_EQ(logs.lines(), std::vector<std::string>{"preferences: " + damaged});
    std::ofstream(file) << "[1]";
    EXPECT_EQ(defaults.problem(), file.string() + " can't be read (not a JSON object)");
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    EXPECT_EQ(defaults.problem(), file.string() + " can't be read (Is a directory)");
    EXPECT_EQ(logs.lines().size(), 3u);
    std::filesystem::remove(file);
    std::ofstream(file) << R"({"paused": true})";
    EXPECT_FALSE(defaults.problem());
    EXPECT_TRUE(defaults.boolForKey("paused"));
}

TEST(JSONFileDefaults, HandWrittenTruthsCount) {
    TempDir dir;
    auto file = dir.path() / "defaults.json";
    JSONFileDefaults defaults(file);
    const std::pair<const char*, bool> cases[] = {{"true", true},   {"\"Yes\"", true}, {"\"TRUE\"", true},
                                                  {"\"1\"", true},  {"2", true},       {"0", false},
                                                  {"\"no\"", false}, {"\"\"", false},  {"false", false}};
    for (const auto& [value, expected] : cases) {
        std::ofstream(file) << "{\"paused\": " << value << "}";
        EXPECT_EQ(defaults.boolForKey("paused"), expected) << value;
    }
}

TEST(LinuxHostEnvironment, PrettyHostnameComesFromMachineInfo) {
    EXPECT_EQ(prettyHostname("PRETTY_HOSTNAME=\"Ada's Laptop\"\nCHASSIS=laptop\n"), "Ada's Laptop");
    EXPECT_EQ(prettyHostname("PRETTY_HOSTNAME=desk\n"), "desk");
    EXPECT_FALSE(prettyHostname("PRETTY_HOSTNAME=\"\"\n"));
    EXPECT_FALSE(prettyHostname("CHASSIS=laptop\n"));

    TempDir dir;
    std::ofstream(dir.path() / "machine-info") << "PRETTY_HOSTNAME='Grace'\n";
    EXPECT_EQ(LinuxHostEnvironment(dir.path() / "machine-info").computerName(), "Grace");
    // Without the file the kernel hostname is used.
    EXPECT_TRUE(LinuxHostEnvironment(dir.path() / "missing").computerName());
}
