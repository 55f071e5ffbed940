#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mcp/tool_arguments.h"

namespace quintalis::mcp {

// The long edge of look's image unless asked otherwise.
inline constexpr int kDefaultEdge = 1200;
// The longest wait a model may ask for, ms: well inside the minute after
// which MCP clients give up on a request that sends no progress.
inline constexpr int64_t kLongestWait = 50'000;
// The longest typing a call without progress may ask for, s: with the
// settle wait after it, still well inside that minute.
inline constexpr double kLongestSilentTyping = 40.0;
// The largest image side a call may name, pixels (a JPEG's largest).
inline constexpr int kLargestImageSide = 65'535;

// The phone tools as a model reads them in tools/list and as their calls
// are checked: names, titles, descriptions and every argument's rule.
const std::vector<ToolRule>& phoneToolRules();
// The rule of one tool; nullptr for a name the server does not offer.
const ToolRule* phoneToolRule(const std::string& name);

}  // namespace quintalis::mcp
