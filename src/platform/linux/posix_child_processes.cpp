#include "platform/linux/posix_child_processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>

#include "base/thread_name.h"

extern char** environ;

namespace quintalis {
namespace {

constexpr auto kSlice = std::chrono::milliseconds(50);

// The app blocks SIGINT and SIGTERM in every thread so that one thread can
// wait for them; a child would inherit that mask and could then not be
// asked to quit. Children start with no signal blocked and the default
// action for the signals a parent commonly changes.
class SpawnAttributes {
public:
    explicit SpawnAttributes(short extraFlags) {
        posix_spawnattr_init(&attributes_);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes_, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int signal : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGCHLD}) sigaddset(&defaults, signal);
        posix_spawnattr_setsigdefault(&attributes_, &defaults);
        posix_spawnattr_setpgroup(&attributes_, 0);
        posix_spawnattr_setflags(&attributes_, static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                                  extraFlags));
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    const posix_spawnattr_t* get() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
};

// Standard input from the null device, the given output (or ours), and no
// other descriptor of this process.
class SpawnFiles {
public:
    explicit SpawnFiles(int output) {
        posix_spawn_file_actions_init(&actions_);
        posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
        if (output >= 0) {
            posix_spawn_file_actions_adddup2(&actions_, output, 1);
            posix_spawn_file_actions_adddup2(&actions_, output, 2);
        }
        posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    }
    ~SpawnFiles() { posix_spawn_file_actions_destroy(&actions_); }
    const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

// Spawns the program; the child's pid, or the error number.
int spawn(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
          const SpawnFiles& files, const SpawnAttributes& attributes, pid_t& pid) {
    std::vector<std::string> words{executable.string()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return posix_spawn(&pid, executable.c_str(), files.get(), attributes.get(), argv.data(), environ);
}

int32_t statusOf(int waitStatus) {
    if (waitStatus < 0) return -1;
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return WTERMSIG(waitStatus);
    return -1;
}

// The child's wait status once it has ended. A child that someone else
// reaped already (SIGCHLD ignored) counts as ended with status -1.
std::optional<int> reap(pid_t pid, bool block) {
    while (true) {
        int status = 0;
        pid_t got = ::waitpid(pid, &status, block ? 0 : WNOHANG);
        if (got == pid) return status;
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        return std::nullopt;
    }
}

// Appends what the pipe holds now; false once it reached end of file.
bool drain(int fd, std::string& output) {
    std::array<char, 4096> buffer;
    while (true) {
        ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got > 0) {
            output.append(buffer.data(), static_cast<size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        return got < 0 && errno == EAGAIN;
    }
}

}  // namespace

PosixChildProcesses::PosixChildProcesses(Duration grace, Clock& clock) : grace_(grace), clock_(clock) {}

ToolRun PosixChildProcesses::run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                                 Duration timeout) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return {-1, std::strerror(errno)};
    pid_t pid = 0;
    int error = spawn(executable, arguments, SpawnFiles(pipeEnds[1]), SpawnAttributes(POSIX_SPAWN_SETPGROUP), pid);
    ::close(pipeEnds[1]);
    int reading = pipeEnds[0];
    if (error != 0) {
        ::close(reading);
        return {-1, std::strerror(error)};
    }
    ::fcntl(reading, F_SETFL, O_NONBLOCK);

    ToolRun result;
    auto deadline = clock_.now() + timeout;
    std::optional<int> waitStatus;
    bool open = true;
    // Read while the program runs. Its exit ends the reading even when a
    // program it started still holds the pipe; so does the time-out.
    while (!waitStatus && clock_.now() < deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_.now());
        if (open) {
            pollfd watched{reading, POLLIN, 0};
            int wait = static_cast<int>(std::min<std::chrono::milliseconds>(left, kSlice).count());
            if (::poll(&watched, 1, std::max(wait, 0)) > 0) open = drain(reading, result.output);
        } else {
            clock_.sleep(std::min<Duration>(left, kSlice));
        }
        waitStatus = reap(pid, false);
    }
    if (!waitStatus) {
        ::kill(-pid, SIGTERM);
        auto killAt = clock_.now() + grace_;
        while (!(waitStatus = reap(pid, false)) && clock_.now() < killAt) {
            clock_.sleep(std::chrono::milliseconds(10));
        }
        if (!waitStatus) {
            ::kill(-pid, SIGKILL);
            waitStatus = reap(pid, true);
        }
    }
    if (open) drain(reading, result.output);
    ::close(reading);
    result.status = statusOf(*waitStatus);
    return result;
}

Outcome PosixChildProcesses::start(const std::filesystem::path& executable, const std::vector<std::string>& arguments) {
    pid_t pid = 0;
    int error = spawn(executable, arguments, SpawnFiles(-1), SpawnAttributes(POSIX_SPAWN_SETSID), pid);
    if (error != 0) return Outcome::failure(std::strerror(error));
    std::thread([pid] {
        nameCurrentThread("quintalis.reaper");
        reap(pid, true);
    }).detach();
    return Outcome::success();
}

}  // namespace quintalis
