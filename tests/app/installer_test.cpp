#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "app/model/installer.h"
#include "support/fake_desktop.h"
#include "support/log_capture.h"
#include "support/manual_main_thread.h"
#include "support/outcome_printing.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

class InstallerTest : public ::testing::Test {
protected:
    FakeProgramInstallation installation;
    RecordingChildProcesses processes;
    ManualMainThread main;
    int quits = 0;
    Installer installer{installation, processes, main, [this] { ++quits; }};
};

// The new copy must not start while this one still holds the ports.
TEST_F(InstallerTest, InstallsThenStartsTheCopyOnceThisOneHasQuit) {
    processes.startFailure = "Permission denied";
    LogCapture logged;
    EXPECT_EQ(installer.moveToApplications(), Outcome::success());
    EXPECT_EQ(installation.steps, (std::vector<std::string>{"trash", "copy"}));
    ASSERT_EQ(processes.calls().size(), 1u);
    EXPECT_EQ(processes.calls()[0].arguments,
              (std::vector<std::string>{"-c",
                                        "while kill -0 " + std::to_string(::getpid()) +
                                            " 2>/dev/null; do sleep 0.1; done; exec \"$0\"",
                                        "/home/tester/.local/bin/quintalis"}));
    EXPECT_TRUE(logged.contains("installer: open failed: Permission denied"));
    EXPECT_EQ(quits, 0);
    main.fireTimers();
    EXPECT_EQ(quits, 1) << "quits even when the new copy cannot start";

    installer.relaunch(1.5);
    EXPECT_EQ(processes.calls().back().arguments,
              (std::vector<std::string>{"-c", "sleep 1.5; exec \"$0\"", "/home/tester/Downloads/quintalis"}));
    main.runPending();
    EXPECT_EQ(quits, 2);
}

TEST_F(InstallerTest, SaysWhyItCouldNotInstallAndStaysOpen) {
    installation.trashFailure = "Trashing on internal mounts is not supported";
    EXPECT_EQ(installer.moveToApplications(),
              Outcome::failure("Couldn't install (Trashing on internal mounts is not supported). Copy quintalis "
                               "into ~/.local/bin by hand instead."));
    EXPECT_EQ(installation.steps, std::vector<std::string>{"trash"});
    installation.trashFailure.reset();
    installation.copyFailure = "No space left on device";
    EXPECT_FALSE(installer.moveToApplications().ok());
    EXPECT_TRUE(processes.calls().empty());
    EXPECT_TRUE(main.delays().empty());

    // Trashing the installed copy would trash the program that runs.
    installation.installedRuns = true;
    installation.steps.clear();
    EXPECT_FALSE(installer.moveToApplications().ok());
    EXPECT_TRUE(installation.steps.empty());
}

TEST(CLIPath, PrefersAnInstalledCopyThatCanRun) {
    TempDir home;
    FakeProgramInstallation installation;
    installation.installed = home.path() / "bin/quintalis";
    std::filesystem::create_directories(home.path() / "bin");
    { std::ofstream(installation.installed) << "#!/bin/sh\n"; }
    EXPECT_EQ(cliPath(installation), installation.running) << "not executable";
    std::filesystem::permissions(installation.installed, std::filesystem::perms(0755));
    EXPECT_EQ(cliPath(installation), installation.installed);
    installation.installedRuns = true;
    installation.running = "/usr/bin/quintalis";
    EXPECT_EQ(cliPath(installation), "/usr/bin/quintalis");
}

}  // namespace
