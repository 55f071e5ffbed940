#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace quintalis::testing {

// One private X server for the whole test binary: Xvfb on the first free
// display, reachable only through its local socket (no TCP listener), ended
// with the binary. display() is "" when Xvfb could not be started; tests
// fail on that rather than skip, since Xvfb is one of the test
// dependencies.
class Xvfb {
public:
    static const std::string& display() {
        static Xvfb server(nullptr);
        return server.display_;
    }
    // A second server without the Composite extension, as some remote and
    // minimal X servers are: windows can be listed but not captured.
    static const std::string& displayWithoutComposite() {
        static Xvfb server("Composite");
        return server.display_;
    }

    // For benchmarks, which have no test to fail: says on standard error
    // when the server could not be started.
    static bool available() {
        if (!display().empty()) return true;
        std::fputs("Xvfb did not start\n", stderr);
        return false;
    }

private:
    explicit Xvfb(const char* disabledExtension) {
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            // Xvfb reports on fd 3, which must stay open across exec.
            if (ready[1] == 3) {
                fcntl(3, F_SETFD, 0);
            } else {
                dup2(ready[1], 3);
            }
            if (disabledExtension) {
                execlp("Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1280x1024x24",
                       "-noreset", "-extension", disabledExtension, static_cast<char*>(nullptr));
            } else {
                execlp("Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1280x1024x24",
                       "-noreset", static_cast<char*>(nullptr));
            }
            _exit(127);
        }
        close(ready[1]);
        // Xvfb writes the display number once it accepts connections.
        std::string number;
        char c;
        while (pid_ > 0 && read(ready[0], &c, 1) == 1 && c != '\n') number += c;
        close(ready[0]);
        if (!number.empty()) display_ = ":" + number;
    }
    ~Xvfb() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }

    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace quintalis::testing
