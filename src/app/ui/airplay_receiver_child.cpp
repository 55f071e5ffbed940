#include "app/ui/airplay_receiver_child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <glibmm/miscutils.h>

namespace quintalis {

bool AirPlayReceiverChild::installed() { return !Glib::find_program_in_path("uxplay").empty(); }

bool AirPlayReceiverChild::running() {
    if (pid_ <= 0) return false;
    if (waitpid(pid_, nullptr, WNOHANG) == 0) return true;
    pid_ = -1;
    return false;
}

std::optional<std::string> AirPlayReceiverChild::start(const std::string& name) {
    if (running()) return std::nullopt;
    std::string program = Glib::find_program_in_path("uxplay");
    if (program.empty()) return "UxPlay is not installed. Install it with: sudo apt install uxplay";
    int failed[2];
    if (pipe2(failed, O_CLOEXEC) != 0) return std::string("couldn't start uxplay: ") + std::strerror(errno);
    pid_t pid = fork();
    if (pid == 0) {
        // It goes when the app goes, however the app ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int quiet = open("/dev/null", O_RDWR);
        dup2(quiet, STDIN_FILENO);
        dup2(quiet, STDOUT_FILENO);
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
    if (pid < 0) {
        close(failed[0]);
        return std::string("couldn't start uxplay: ") + std::strerror(errno);
    }
    int error = 0;
    // The pipe closes on exec; bytes on it mean exec failed.
    bool execFailed = read(failed[0], &error, sizeof error) == sizeof error;
    close(failed[0]);
    if (execFailed) {
        waitpid(pid, nullptr, 0);
        return std::string("couldn't start uxplay: ") + std::strerror(error);
    }
    pid_ = pid;
    return std::nullopt;
}

void AirPlayReceiverChild::stop() {
    if (!running()) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace quintalis
