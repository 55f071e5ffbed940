#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "base/read_file.h"
#include "platform/linux/desktop_entry.h"
#include "platform/linux/user_installation.h"
#include "support/outcome_printing.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

namespace fs = std::filesystem;

std::pair<int, std::string> runCommand(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[256];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    return {WEXITSTATUS(::pclose(pipe)), out};
}

// GIO reads HOME and XDG_DATA_HOME once, at its first use: the trash must
// be this test's own before that.
TempDir& home() {
    static TempDir& dir = *new TempDir();
    return dir;
}

class OwnHome : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("HOME", home().path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home().path() / ".local/share").c_str(), 1);
    }
};
const auto* ownHome = ::testing::AddGlobalTestEnvironment(new OwnHome);

TEST(UserInstallation, InstallsARunnableCopyAndTrashesTheOldOne) {
    fs::path dataHome = home().path() / ".local/share";
    UserInstallation installation(QUINTALIS_EXECUTABLE, home().path(), dataHome);
    EXPECT_FALSE(installation.runsInstalled());

    fs::create_directories(home().path() / ".local/bin");
    { std::ofstream(installation.installedProgram()) << "an older copy"; }
    EXPECT_EQ(installation.trashInstalledCopy(), Outcome::success());
    EXPECT_FALSE(fs::exists(installation.installedProgram()));
    EXPECT_EQ(readFile(dataHome / "Trash/files/quintalis"), "an older copy");
    EXPECT_EQ(installation.trashInstalledCopy(), Outcome::success()) << "nothing to trash is no failure";

    EXPECT_EQ(installation.copyRunningProgram(), Outcome::success());
    auto [status, out] = runCommand(installation.installedProgram().string() + " --version");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out.rfind("Quintalis ", 0), 0u) << out;
    EXPECT_TRUE(fs::exists(dataHome / "quintalis/quintalis.svg"));

    auto entry = readFile(installation.desktopEntry());
    ASSERT_TRUE(entry);
    EXPECT_EQ(desktopEntryValue(*entry, "Exec"), installation.installedProgram().string());
    EXPECT_EQ(desktopEntryValue(*entry, "Icon"), (dataHome / "quintalis/quintalis.svg").string());
    EXPECT_TRUE(UserInstallation(installation.installedProgram(), home().path(), dataHome).runsInstalled());
    EXPECT_TRUE(fs::exists(installation.dataFiles() / "icons/quintalis-symbolic.svg"));
    // The installed copy finds its data where they were put, not beside ~/.local/bin.
    fs::path elsewhere = home().path() / "data-elsewhere";
    EXPECT_EQ(UserInstallation(QUINTALIS_EXECUTABLE, home().path(), elsewhere).copyRunningProgram(),
              Outcome::success());
    UserInstallation moved(installation.installedProgram(), home().path(), elsewhere);
    EXPECT_EQ(moved.dataFiles(), elsewhere / "quintalis");
    EXPECT_TRUE(fs::exists(moved.dataFiles() / "icons/quintalis-symbolic.svg"));
    EXPECT_TRUE(UserInstallation("/usr/bin/quintalis", home().path(), dataHome).runsInstalled());
    EXPECT_TRUE(UserInstallation("/run/media/ann/KEY/quintalis", home().path(), dataHome).runsFromRemovableMedia());
}

TEST(UserInstallation, SaysWhyACopyFailed) {
    fs::path locked = home().path() / "locked";
    fs::create_directories(locked);
    UserInstallation installation(QUINTALIS_EXECUTABLE, locked, home().path() / ".local/share");
    ::chmod(locked.c_str(), 0500);
    if (::access(locked.c_str(), W_OK) == 0) GTEST_SKIP() << "root writes anywhere";
    EXPECT_EQ(installation.copyRunningProgram(), Outcome::failure("Permission denied"));
    ::chmod(locked.c_str(), 0700);
}

}  // namespace
