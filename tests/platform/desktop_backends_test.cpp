#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "app/model/other_engines.h"
#include "base/read_file.h"
#include "platform/linux/desktop_entry.h"
#include "platform/linux/desktop_system_settings.h"
#include "platform/linux/posix_child_processes.h"
#include "platform/linux/proc_airplay_receiver.h"
#include "platform/linux/proc_running_programs.h"
#include "platform/linux/proc_table.h"
#include "platform/linux/xdg_autostart.h"
#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/fake_platform.h"
#include "support/raw_http.h"
#include "support/outcome_printing.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

namespace fs = std::filesystem;

// A loopback TCP listener; -1 when none could be made. Not closed on exec,
// as a careless parent's sockets would not be.
int listenOnLoopback(uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// A process of this test's own under a chosen name, optionally listening on
// a loopback port and optionally deaf to SIGTERM. Between fork and its end
// the child makes only async-signal-safe calls.
class Child {
public:
    Child(const char* name, bool listens, bool refusesToQuit) {
        int report[2];
        EXPECT_EQ(::pipe(report), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_NAME, name);
            ::close(report[0]);
            if (refusesToQuit) {
                struct sigaction action {};
                action.sa_handler = SIG_IGN;
                ::sigaction(SIGTERM, &action, nullptr);
            }
            uint16_t port = 0;
            if (listens && listenOnLoopback(port) < 0) ::_exit(1);
            [[maybe_unused]] auto written = ::write(report[1], &port, sizeof port);
            while (true) ::pause();
        }
        ::close(report[1]);
        reports_ = report[0];
        EXPECT_EQ(::read(reports_, &port_, sizeof port_), static_cast<ssize_t>(sizeof port_));
    }
    ~Child() {
        if (!reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(reports_);
    }
    pid_t pid() const { return pid_; }
    uint16_t port() const { return port_; }
    // The signal that ended it.
    int endedBy() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int reports_ = -1;
    uint16_t port_ = 0;
    bool reaped_ = false;
};

fs::path script(const fs::path& file, const std::string& body) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "#!/bin/sh\n" << body;
    fs::permissions(file, fs::perms(0755));
    return file;
}

TEST(ProcTable, FindsListenersOfThePortInBothTables) {
    // sl, local, remote, state, queues, timer, retransmits, uid, timeout, inode
    const char* tcp =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
        "   0: 0100007F:1CEE 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 4711 1 0\n"
        "   1: 0100007F:1CEE 0100007F:D2A0 01 00000000:00000000 00:00000000 00000000  1000        0 4712 1 0\n"
        "   2: 00000000:1B58 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 4713 1 0\n";
    const char* tcp6 =
        "  sl  local_address                         remote_address                        st tx_queue rx_queue tr "
        "tm->when retrnsmt   uid  timeout inode\n"
        "   0: 00000000000000000000000001000000:1CEF 00000000000000000000000000000000:0000 0A 00000000:00000000 "
        "00:00000000 00000000  1000        0 5001 1 0\n"
        "   garbage\n";
    EXPECT_EQ(listeningSocketInodes(tcp, {7000, 7406}), (std::set<uint64_t>{4711, 4713})) << "the connected one is no listener";
    EXPECT_EQ(listeningSocketInodes(tcp6, {7407}), (std::set<uint64_t>{5001}));
}

TEST(ProcAirPlayReceiver, OnWithUxPlayOffWithNothingUnknownWithAnotherListener) {
    uint16_t unused = freePort();
    EXPECT_EQ(ProcAirPlayReceiver(ProcTable(), ::getuid(), unused).isOn(), false);
    {
        Child other("other-server", true, false);
        EXPECT_EQ(ProcAirPlayReceiver(ProcTable(), ::getuid(), other.port()).isOn(), std::nullopt);
    }
    Child uxplay("uxplay", false, false);
    EXPECT_EQ(ProcAirPlayReceiver(ProcTable(), ::getuid(), unused).isOn(), true);
    EXPECT_EQ(ProcAirPlayReceiver(ProcTable(), ::getuid() + 1, unused).isOn(), false) << "another user's";
}

// This test's own program stands for Quintalis's; a Child is a copy of it.
QuintalisSigns signsOfThisProgram(std::function<std::optional<std::string>(uint16_t)> whoAnswers = {}) {
    return {{fs::read_symlink("/proc/self/exe")}, std::move(whoAnswers)};
}

std::vector<WantedPort> enginePorts(std::initializer_list<uint16_t> ports) {
    std::vector<WantedPort> wanted;
    for (uint16_t port : ports) wanted.push_back({port, "QUINTALIS_ENGINE_PORT"});
    return wanted;
}

TEST(QuitOtherEngines, AsksCopiesOnThePortsToQuit) {
    Child engine("old-engine", true, false);
    Child bystander("bystander", true, false);
    uint16_t ownPort = 0;
    int own = listenOnLoopback(ownPort);
    ProcRunningPrograms programs;
    auto outcome = quitOtherEngines(programs, Clock::real(), enginePorts({engine.port(), ownPort}), signsOfThisProgram());
    ::close(own);
    EXPECT_EQ(outcome.quit, std::vector<std::string>{"old-engine"}) << "never this process, nor other ports";
    EXPECT_EQ(engine.endedBy(), SIGTERM);
    EXPECT_TRUE(programs.isRunning({bystander.pid(), "bystander", {}}));
    EXPECT_EQ(switchReport(outcome), "Quit old-engine. Reopening Quintalis\u2026");
}

TEST(QuitOtherEngines, EndsOneThatWillNotQuitAfterTwoSeconds) {
    Child deaf("deaf-engine", true, true);
    ProcRunningPrograms programs;
    FakeClock clock;
    auto outcome = quitOtherEngines(programs, clock, enginePorts({deaf.port()}), signsOfThisProgram());
    EXPECT_EQ(outcome.quit, std::vector<std::string>{"deaf-engine"});
    EXPECT_EQ(deaf.endedBy(), SIGKILL);
    EXPECT_EQ(clock.elapsed(), std::chrono::seconds(2));
}

// A user's own server on the port, by its program file: only a /status
// answer naming Quintalis makes it a copy.
TEST(QuitOtherEngines, LeavesAProgramThatIsNotQuintalisAndNamesIt) {
    Child server("user-server", true, false);
    ProcRunningPrograms programs;
    FakeClock clock;
    std::vector<uint16_t> asked;
    const QuintalisSigns elsewhere{{"/opt/elsewhere/quintalis"}, [&asked](uint16_t on) {
                                       asked.push_back(on);
                                       return std::optional<std::string>("another app");
                                   }};
    auto outcome = quitOtherEngines(programs, clock, enginePorts({server.port()}), elsewhere);
    EXPECT_TRUE(outcome.quit.empty());
    const std::string line = "Port " + std::to_string(server.port()) + " is used by user-server (pid " +
                             std::to_string(server.pid()) +
                             "). Quit that program, or start Quintalis with QUINTALIS_ENGINE_PORT set to a free port.";
    EXPECT_EQ(outcome.strangers, std::vector<std::string>{line});
    EXPECT_EQ(switchReport(outcome), line) << "no relaunch";
    EXPECT_EQ(asked, std::vector<uint16_t>{server.port()});
    EXPECT_EQ(clock.elapsed(), Duration::zero()) << "nobody to wait for";
    EXPECT_TRUE(programs.isRunning({server.pid(), "user-server", {}})) << "neither SIGTERM nor SIGKILL";

    outcome = quitOtherEngines(programs, clock, {{server.port(), "QUINTALIS_AIRPLAY_PORT"}},
                               {{"/opt/elsewhere/quintalis"}, [](uint16_t) { return std::optional<std::string>("Quintalis"); }});
    EXPECT_EQ(outcome.quit, std::vector<std::string>{"user-server"});
    EXPECT_EQ(server.endedBy(), SIGTERM);
}

TEST(PosixChildProcesses, ChildrenGetNoneOfOurOpenFiles) {
    TempDir dir;
    uint16_t port = 0;
    int listener = listenOnLoopback(port);
    ASSERT_GE(listener, 0);
    auto lister = script(dir.path() / "fds", "ls /proc/$$/fd > \"$1.part\"; mv \"$1.part\" \"$1\"\n");
    PosixChildProcesses processes;
    auto ran = processes.run(lister, {(dir.path() / "run").string()}, std::chrono::seconds(30));
    EXPECT_EQ(ran.status, 0) << ran.output;
    EXPECT_EQ(processes.start(lister, {(dir.path() / "start").string()}), Outcome::success());
    ASSERT_TRUE(eventually([&] { return readFile(dir.path() / "start").has_value(); }, 30));
    for (const char* file : {"run", "start"}) {
        auto fds = *readFile(dir.path() / file);
        EXPECT_EQ(("\n" + fds).find("\n" + std::to_string(listener) + "\n"), std::string::npos) << file << ": " << fds;
    }
    ::close(listener);
    EXPECT_EQ(processes.start(dir.path() / "missing", {}), Outcome::failure("No such file or directory"));
}

TEST(XdgAutostart, AnEntryThatIsNotHiddenStartsTheProgram) {
    TempDir dir;
    fs::path entry = dir.path() / "autostart/quintalis.desktop";
    XdgAutostart autostart(entry, [] { return fs::path("/home/ann/.local/bin/quintalis"); });
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_EQ(autostart.setEnabled(true), Outcome::success());
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_EQ(desktopEntryValue(*readFile(entry), "Exec"), "/home/ann/.local/bin/quintalis");

    std::ofstream(entry, std::ios::app) << "Hidden = true\n";
    EXPECT_FALSE(autostart.isEnabled()) << "switched off by the desktop's settings";
    EXPECT_EQ(autostart.setEnabled(false), Outcome::success());
    EXPECT_FALSE(fs::exists(entry));

    std::ofstream(dir.path() / "file") << "";
    XdgAutostart blocked(dir.path() / "file/autostart/quintalis.desktop", [] { return fs::path("/q"); });
    EXPECT_EQ(blocked.setEnabled(true), Outcome::failure("Not a directory"));
}

TEST(DesktopEntry, ExecWordsSurviveTheLaunchersUnquoting) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/ann/My Apps/quintalis", "\"/home/ann/My Apps/quintalis\""},
        // The quoting's backslash is itself escaped as the file's strings ask.
        {"/a\"b", "\"/a\\\\\"b\""},
        {"/a$b`c", "\"/a\\\\$b\\\\`c\""},
        {"/100%/q", "/100%%/q"},
    };
    for (auto [word, written] : cases) EXPECT_EQ(desktopExecWord(word), written) << word;
}

TEST(DesktopSystemSettings, StartsTheFirstBluetoothSettingsFound) {
    TempDir dir;
    FakeHostEnvironment host;
    PosixChildProcesses processes;
    DesktopSystemSettings settings(host, processes);
    host.variables["PATH"] = (dir.path() / "empty").string();
    EXPECT_FALSE(settings.openBluetooth());

    fs::path opened = dir.path() / "opened";
    script(dir.path() / "kde/systemsettings", "echo \"systemsettings $*\" > '" + opened.string() + "'\n");
    script(dir.path() / "blueman/blueman-manager", "echo blueman > '" + opened.string() + "'\n");
    host.variables["PATH"] = (dir.path() / "blueman").string() + "::" + (dir.path() / "kde").string();
    EXPECT_TRUE(settings.openBluetooth());
    EXPECT_TRUE(eventually([&] { return readFile(opened) == "systemsettings kcm_bluetooth\n"; }, 30))
        << readFile(opened).value_or("nothing");
}

}  // namespace
