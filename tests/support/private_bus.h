#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "support/temp_dir.h"

namespace quintalis::testing {

// A dbus-daemon of the test's own, standing in for the system bus: anyone
// may own any name on it, and nothing on it is started on demand.
class PrivateBus {
public:
    PrivateBus() {
        auto config = folder_.path() / "bus.conf";
        std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                 "<busconfig><type>session</type><listen>unix:path="
                              << (folder_.path() / "socket").string()
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                 "<allow user=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/><allow own=\"*\"/>"
                                 "</policy></busconfig>\n";
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe");
        const pid_t test = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            // Ends with the test even where the bus is never destroyed (GTK
            // keeps its connection to the end). The signal comes when the
            // thread that made the bus ends: every test makes it on its own.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != test) _exit(0);
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            // It warns that it cannot raise its descriptor limit; nothing to see.
            int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDERR_FILENO);
            execlp("dbus-daemon", "dbus-daemon", ("--config-file=" + config.string()).c_str(), "--nofork", "--nopidfile",
                   "--print-address=1", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') address_ += c;
        close(out[0]);
        if (address_.empty()) throw std::runtime_error("dbus-daemon did not start");
    }
    ~PrivateBus() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }
    std::unique_ptr<sdbus::IConnection> connect() const { return sdbus::createSessionBusConnectionWithAddress(address_); }

private:
    TempDir folder_;
    pid_t pid_ = -1;
    std::string address_;
};

}  // namespace quintalis::testing
