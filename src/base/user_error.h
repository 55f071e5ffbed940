#pragma once

#include <stdexcept>

namespace quintalis {

// The base of the exceptions whose message is written for the person using
// the program, or the agent acting for them: a command prints it on standard
// error and ends with status 1, an API answers it, a page shows it. Faults
// only a developer can read (a malformed stream, a broken invariant) stay
// plain std::runtime_error, so that a catch of UserError never hides them.
class UserError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quintalis
