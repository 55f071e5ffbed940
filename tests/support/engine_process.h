#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "base/json.h"
#include "support/eventually.h"
#include "support/raw_http.h"
#include "support/temp_dir.h"

namespace quintalis::testing {

// The built quintalis program, started on free ports with its own folders,
// for black-box tests. Stopped with SIGTERM when the object goes.
class EngineProcess {
public:
    EngineProcess(const std::string& simulator, const std::filesystem::path& home,
                  const std::map<std::string, std::string>& environment = {})
        : port_(freePort()),
          airplayPort_(freePort()),
          home_(home),
          log_(home / ("stderr-" + std::to_string(port_) + ".log")) {
        pid_ = fork();
        if (pid_ == 0) {
            setenv("QUINTALIS_SIMULATOR", simulator.c_str(), 1);
            for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
            setenv("QUINTALIS_ENGINE_PORT", std::to_string(port_).c_str(), 1);
            setenv("QUINTALIS_AIRPLAY_PORT", std::to_string(airplayPort_).c_str(), 1);
            for (const char* name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
                setenv(name, home.c_str(), 1);
            }
            FILE* err = std::fopen(log_.c_str(), "w");
            if (err) dup2(fileno(err), STDERR_FILENO);
            execl(QUINTALIS_EXECUTABLE, QUINTALIS_EXECUTABLE, static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500 && get("/status").status != 200; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~EngineProcess() { stop(); }

    int stop() {
        if (pid_ <= 0) return exitStatus_;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return exitStatus_;
    }

    uint16_t port() const { return port_; }
    uint16_t airplayPort() const { return airplayPort_; }
    ParsedReply get(const std::string& target) { return parseReply(roundTrip(port_, getRequest(target))); }
    // The AirPlay capture service the program serves beside its engine.
    ParsedReply airplayGet(const std::string& target) { return parseReply(roundTrip(airplayPort_, getRequest(target))); }
    ParsedReply post(const std::string& path, const JSON& body = JSON::object()) {
        std::string text = body.dump();
        return parseReply(roundTrip(port_, "POST " + path + " HTTP/1.1\r\nContent-Length: " + std::to_string(text.size()) +
                                               "\r\n\r\n" + text));
    }
    JSON json(const ParsedReply& reply) { return parseJSON(reply.body).value_or(JSON()); }
    JSON truth() { return json(get("/simulator"))["phones"]; }
    std::string log() const {
        std::ifstream in(log_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Waits up to `seconds` for the condition; the phones live in real time.
    bool waitFor(const std::function<bool()>& condition, double seconds = 20) { return eventually(condition, seconds); }

private:
    // Appended piece by piece: GCC 12 warns falsely (-Warray-bounds) on the
    // inlined `"GET " + target + ...` when target is a short literal.
    static std::string getRequest(const std::string& target) {
        std::string request = "GET ";
        request += target;
        request += " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        return request;
    }

    uint16_t port_;
    uint16_t airplayPort_;
    std::filesystem::path home_;
    std::filesystem::path log_;
    pid_t pid_ = -1;
    int exitStatus_ = -1;
};

}  // namespace quintalis::testing
