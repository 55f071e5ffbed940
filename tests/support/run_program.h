#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "support/temp_dir.h"

namespace quintalis::testing {

struct ProgramRun {
    int status;
    std::string out;
    std::string err;
};

// Runs the built quintalis program with the arguments and collects what it
// printed. `environment` is given to env(1) first ("-u DISPLAY NAME=value").
inline ProgramRun run(const std::string& arguments, const TempDir& dir, const std::string& environment = "") {
    std::string err = (dir.path() / "stderr").string();
    std::string command = (environment.empty() ? "" : "env " + environment + " ") + std::string(QUINTALIS_EXECUTABLE) +
                          " " + arguments + " 2>" + err;
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    std::array<char, 4096> buffer;
    while (size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) out.append(buffer.data(), n);
    int status = pclose(pipe);
    std::ifstream in(err);
    std::string errors((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return {WEXITSTATUS(status), out, errors};
}

}  // namespace quintalis::testing
