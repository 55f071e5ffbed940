#include "app/ui/airplay_receiver_child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <glibmm/miscutils.h>

#include "base/log.h"

namespace quintalis {
namespace {

// Logs each line the child prints and keeps the last one, until every
// writer has closed its end.
void readLines(int fd, std::mutex& mutex, std::string& lastLine) {
    std::string pending;
    char buffer[4096];
    auto take = [&](std::string line) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.empty()) return;
        log("uxplay: " + line);
        std::lock_guard lock(mutex);
        lastLine = std::move(line);
    };
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        pending.append(buffer, static_cast<size_t>(got));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            take(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
    }
    take(pending);
    close(fd);
}

std::string howItEnded(int status) {
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("ended by signal ") + strsignal(WTERMSIG(status));
    return "ended";
}

}  // namespace

bool AirPlayReceiverChild::installed() { return !Glib::find_program_in_path("uxplay").empty(); }

void AirPlayReceiverChild::reap() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != pid_) return;
    pid_ = -1;
    joinReader();
    std::lock_guard lock(mutex_);
    endedHow_ = howItEnded(status) + (lastLine_.empty() ? "" : ": " + lastLine_);
}

bool AirPlayReceiverChild::running() {
    reap();
    return pid_ > 0;
}

std::optional<std::string> AirPlayReceiverChild::ended() {
    reap();
    return std::exchange(endedHow_, std::nullopt);
}

void AirPlayReceiverChild::joinReader() {
    if (reader_.joinable()) reader_.join();
}

Outcome AirPlayReceiverChild::start(const std::string& name) {
    if (running()) return Outcome::success();
    std::string program = Glib::find_program_in_path("uxplay");
    if (program.empty()) return Outcome::failure("UxPlay is not installed. Install it with: sudo apt install uxplay");
    int failed[2];
    int output[2];
    if (pipe2(failed, O_CLOEXEC) != 0)
        return Outcome::failure(std::string("couldn't start uxplay: ") + std::strerror(errno));
    if (pipe2(output, O_CLOEXEC) != 0) {
        int error = errno;
        close(failed[0]);
        close(failed[1]);
        return Outcome::failure(std::string("couldn't start uxplay: ") + std::strerror(error));
    }
    pid_t pid = fork();
    if (pid == 0) {
        // It goes when the app goes, however the app ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int quiet = open("/dev/null", O_RDWR);
        dup2(quiet, STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        dup2(output[1], STDERR_FILENO);
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != failed[1]) close(fd);
        }
        // An X11 sink, so that the window it shows the phone in is one we can
        // capture: left to choose, it would open a Wayland window in a Wayland
        // session, and those only their compositor can read.
        execl(program.c_str(), "uxplay", "-n", name.c_str(), "-nh", "-vs", "ximagesink", static_cast<char*>(nullptr));
        int error = errno;
        (void)!write(failed[1], &error, sizeof error);
        _exit(127);
    }
    close(failed[1]);
    close(output[1]);
    if (pid < 0) {
        int error = errno;
        close(failed[0]);
        close(output[0]);
        return Outcome::failure(std::string("couldn't start uxplay: ") + std::strerror(error));
    }
    int error = 0;
    // The pipe closes on exec; bytes on it mean exec failed.
    bool execFailed = read(failed[0], &error, sizeof error) == sizeof error;
    close(failed[0]);
    if (execFailed) {
        close(output[0]);
        waitpid(pid, nullptr, 0);
        return Outcome::failure(std::string("couldn't start uxplay: ") + std::strerror(error));
    }
    {
        std::lock_guard lock(mutex_);
        lastLine_.clear();
    }
    endedHow_.reset();
    reader_ = std::thread(readLines, output[0], std::ref(mutex_), std::ref(lastLine_));
    pid_ = pid;
    return Outcome::success();
}

void AirPlayReceiverChild::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    joinReader();
    endedHow_.reset();
}

}  // namespace quintalis
