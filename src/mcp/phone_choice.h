#pragma once

#include <optional>
#include <string>

#include "mcp/phone_access.h"

namespace quintalis::mcp {

// The phone a call means: the one phone when `wanted` is empty, else the
// phone `wanted` names by the one rule of phone names (phonesFitting).
// Throws PhoneError naming the phones when none or several fit.
Phone choosePhone(const PhoneList& list, const std::optional<std::string>& wanted);

}  // namespace quintalis::mcp
