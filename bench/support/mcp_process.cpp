#include "support/mcp_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "support/raw_http.h"

namespace quintalis::bench {

using namespace std::chrono_literals;

MCPProcess::MCPProcess(const std::string& name) : enginePort_(testing::freePort()) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) throw std::runtime_error("no pipes");
    std::string home = "/tmp/" + name;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        for (int end : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) close(end);
        int log = open((home + ".log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, STDERR_FILENO);
        setenv("QUINTALIS_SIMULATOR", "1", 1);
        setenv("QUINTALIS_ENGINE_PORT", std::to_string(enginePort_).c_str(), 1);
        setenv("QUINTALIS_AIRPLAY_PORT", std::to_string(testing::freePort()).c_str(), 1);
        for (const char* variable : {"XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
            setenv(variable, home.c_str(), 1);
        }
        // Another build of the program may be measured against this one's benchmark.
        const char* program = getenv("QUINTALIS_PROGRAM");
        if (!program) program = QUINTALIS_EXECUTABLE;
        execl(program, program, "mcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fdopen(fromChild[0], "r");
    call("initialize", JSON{{"protocolVersion", "2025-11-25"}, {"capabilities", JSON::object()},
                            {"clientInfo", JSON{{"name", "bench"}, {"version", "1"}}}});
    for (int i = 0; i < 600; ++i) {
        std::string phones = tool("phones", JSON::object()).dump();
        if (phones.find("px, Bluetooth connected") != std::string::npos) return;  // a frame and a host
        std::this_thread::sleep_for(100ms);
    }
    throw std::runtime_error("the virtual iPhone did not connect");
}

MCPProcess::~MCPProcess() {
    close(in_);
    waitpid(pid_, nullptr, 0);
    fclose(out_);
    free(reply_);
}

std::string MCPProcess::exchange(const std::string& method, const JSON& params) {
    std::string line = JSON{{"jsonrpc", "2.0"}, {"id", ++id_}, {"method", method}, {"params", params}}.dump() + "\n";
    if (write(in_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) throw std::runtime_error("write");
    ssize_t got = getline(&reply_, &capacity_, out_);
    if (got <= 0) throw std::runtime_error("quintalis mcp closed its output");
    return std::string(reply_, static_cast<size_t>(got));
}

JSON MCPProcess::call(const std::string& method, const JSON& params) {
    std::string text = exchange(method, params);
    auto parsed = parseJSON(text);
    if (!parsed || !parsed->contains("result")) throw std::runtime_error("no result: " + text);
    return (*parsed)["result"];
}

JSON MCPProcess::tool(const std::string& name, const JSON& arguments) {
    return call("tools/call", JSON{{"name", name}, {"arguments", arguments}});
}

std::string MCPProcess::engine() const { return "http://127.0.0.1:" + std::to_string(enginePort_); }

}  // namespace quintalis::bench
