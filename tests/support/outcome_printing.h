#pragma once

#include <ostream>

#include "base/outcome.h"

namespace quintalis {

// Lets a failed EXPECT_EQ on an Outcome say which outcome it got, rather
// than dump its bytes. Found by argument-dependent lookup, so it lives in
// the Outcome's namespace; tests that compare outcomes include this header.
inline void PrintTo(const Outcome& outcome, std::ostream* out) {
    if (outcome.ok())
        *out << "success";
    else
        *out << "failure(\"" << outcome.message() << "\")";
}

}  // namespace quintalis
