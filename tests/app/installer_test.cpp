#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "app/model/installer.h"
#include "support/fake_desktop.h"
#include "support/log_capture.h"
#include "support/manual_main_thread.h"
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

TEST_F(InstallerTest, InstallsThenStartsTheCopyOnceThisOneHasQuit) {
    LogCapture logged;
    EXPECT_EQ(installer.moveToApplications(), std::nullopt);
    EXPECT_EQ(installation.steps, (std::vector<std::string>{"trash", "copy"}));
    ASSERT_EQ(processes.calls().size(), 1u);
    auto started = processes.calls()[0];
    EXPECT_EQ(started.executable, "/bin/sh");
    EXPECT_EQ(started.arguments,
              (std::vector<std::string>{"-c",
                                        "while kill -0 " + std::to_string(::getpid()) +
                                            " 2>/dev/null; do sleep 0.1; done; exec \"$0\"",
                                        "/home/tester/.local/bin/quintalis"}));
    EXPECT_EQ(main.delays(), std::vector<Duration>{std::chrono::milliseconds(500)});
    EXPECT_EQ(quits, 0);
    main.fireTimers();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(logged.lines().empty()) << "nothing to say for a program in the home folder";
}

TEST_F(InstallerTest, SaysWhyItCouldNotInstallAndStaysOpen) {
    LogCapture logged;
    installation.removable = true;
    installation.running = "/media/ann/USB/quintalis";
    installation.trashFailure = "Trashing on internal mounts is not supported";
    EXPECT_EQ(installer.moveToApplications(),
              "Couldn't install (Trashing on internal mounts is not supported). Copy quintalis into ~/.local/bin by "
              "hand instead.");
    EXPECT_TRUE(logged.contains("installer: moving from /media/ann/USB/quintalis"));
    EXPECT_EQ(installation.steps, std::vector<std::string>{"trash"});

    installation.trashFailure.reset();
    installation.copyFailure = "No space left on device";
    EXPECT_EQ(installer.moveToApplications(),
              "Couldn't install (No space left on device). Copy quintalis into ~/.local/bin by hand instead.");
    EXPECT_TRUE(processes.calls().empty());
    EXPECT_TRUE(main.delays().empty());

    // Trashing the installed copy would trash the program that runs.
    EXPECT_FALSE(installer.isInApplications());
    installation.installedRuns = true;
    EXPECT_TRUE(installer.isInApplications());
    installation.steps.clear();
    EXPECT_NE(installer.moveToApplications(), std::nullopt);
    EXPECT_TRUE(installation.steps.empty());
}

TEST_F(InstallerTest, QuitsEvenWhenTheNewCopyCannotStart) {
    LogCapture logged;
    processes.startFailure = "Permission denied";
    EXPECT_EQ(installer.moveToApplications(), std::nullopt);
    EXPECT_TRUE(logged.contains("installer: open failed: Permission denied"));
    main.fireTimers();
    EXPECT_EQ(quits, 1);
}

TEST_F(InstallerTest, RelaunchesThroughADelayedShell) {
    installer.relaunch(1.5);
    installer.relaunch(0.2);
    ASSERT_EQ(processes.calls().size(), 2u);
    EXPECT_EQ(processes.calls()[0].arguments,
              (std::vector<std::string>{"-c", "sleep 1.5; exec \"$0\"", "/home/tester/Downloads/quintalis"}));
    EXPECT_EQ(processes.calls()[1].arguments[1], "sleep 0.2; exec \"$0\"");
    main.runPending();
    EXPECT_EQ(quits, 2);
}

TEST(CLIPath, PrefersAnInstalledCopy) {
    TempDir home;
    FakeProgramInstallation installation;
    installation.installed = home.path() / "bin/quintalis";
    EXPECT_EQ(cliPath(installation), installation.running) << "nothing installed";
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
