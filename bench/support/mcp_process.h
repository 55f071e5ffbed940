#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/json.h"

namespace quintalis::bench {

// `quintalis mcp` with its own engine and one virtual iPhone, driven over its
// standard input and output as an AI client does. Its log goes to
// "/tmp/<name>.log". The constructor returns once the phone shows a picture
// and is connected over Bluetooth.
class MCPProcess {
public:
    explicit MCPProcess(const std::string& name);
    ~MCPProcess();
    MCPProcess(const MCPProcess&) = delete;
    MCPProcess& operator=(const MCPProcess&) = delete;

    // The reply line as it came, read whole but not parsed: parsing is the client's own cost.
    std::string exchange(const std::string& method, const JSON& params);
    // The "result" of a call; throws when there is none.
    JSON call(const std::string& method, const JSON& params);
    JSON tool(const std::string& name, const JSON& arguments);
    // The engine the process started, as "http://127.0.0.1:<port>".
    std::string engine() const;

private:
    uint16_t enginePort_;
    pid_t pid_ = -1;
    int in_ = -1;
    FILE* out_ = nullptr;
    int id_ = 0;
    char* reply_ = nullptr;
    size_t capacity_ = 0;
};

}  // namespace quintalis::bench
