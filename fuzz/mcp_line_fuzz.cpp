#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/json.h"
#include "mcp/mcp_server.h"

namespace {

// A tool that answers with what it was given, so arguments reach a reply.
class Echo final : public quintalis::mcp::ToolBox {
public:
    quintalis::JSON definitions() const override { return quintalis::JSON::array(); }
    quintalis::JSON call(const std::string& name, const quintalis::JSON& arguments,
                         quintalis::mcp::CallContext&) override {
        if (name != "echo") throw quintalis::mcp::UnknownTool(name);
        return quintalis::JSON{{"content", {{{"type", "text"}, {"text", arguments.dump()}}}}};
    }
};

}  // namespace

// One line from a client, whatever its bytes: every reply must be one line
// of valid JSON, and a request with an id must be answered.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Echo tools;
    std::vector<std::string> sent;
    quintalis::mcp::MCPServer server(
        tools, {"quintalis", "Quintalis", "fuzz", ""}, [&](const std::string& line) { sent.push_back(line); },
        [](std::function<void()> call) { call(); });
    server.receive(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const auto& line : sent) {
        if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1) __builtin_trap();
        if (!quintalis::parseJSON(std::string_view(line).substr(0, line.size() - 1))) __builtin_trap();
    }
    return 0;
}
