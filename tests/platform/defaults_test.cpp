#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/linux/json_file_defaults.h"
#include "platform/linux/linux_host_environment.h"
#include "support/temp_dir.h"

using namespace quintalis;
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

TEST(JSONFileDefaults, ACorruptFileReadsAsEmptyAndIsReplacedOnWrite) {
    TempDir dir;
    auto file = dir.path() / "defaults.json";
    std::ofstream(file) << "{\"paused\": tru";
    JSONFileDefaults defaults(file);
    EXPECT_FALSE(defaults.boolValue("paused"));
    defaults.setBool("setupDone", true);
    EXPECT_EQ(JSONFileDefaults(file).boolValue("setupDone"), true);
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
