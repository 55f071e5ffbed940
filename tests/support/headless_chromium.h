#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace quintalis::testing {

// Debian's Chromium, headless, showing one page until the object goes: a
// real browser with its own rules on what a page may send and read. It runs
// with a throwaway profile, without the sandbox (which refuses to start as
// root, as tests on CI run), and in a process group of its own, ended as a
// whole with SIGTERM.
class HeadlessChromium {
public:
    HeadlessChromium(const std::string& url, const std::vector<std::string>& extraArguments = {}) {
        std::vector<std::string> arguments = {"chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
                                              "--no-first-run", "--disable-extensions", "--disable-background-networking",
                                              "--user-data-dir=" + profile_.path().string()};
        arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
        arguments.push_back(url);
        const std::string log = (profile_.path() / "stderr.log").string();
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (FILE* err = std::fopen(log.c_str(), "w")) dup2(fileno(err), STDERR_FILENO);
            std::vector<char*> argv;
            for (auto& argument : arguments) argv.push_back(argument.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
    }
    ~HeadlessChromium() {
        if (pid_ <= 0) return;
        kill(-pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    HeadlessChromium(const HeadlessChromium&) = delete;
    HeadlessChromium& operator=(const HeadlessChromium&) = delete;

    bool started() const { return pid_ > 0; }

private:
    TempDir profile_;
    pid_t pid_ = -1;
};

}  // namespace quintalis::testing
