#pragma once

#include "base/json.h"

namespace quintalis::mcp {

// The phone tools as a model reads them in tools/list: names, titles,
// descriptions and input schemas, with units.
JSON phoneToolDefinitions();

}  // namespace quintalis::mcp
