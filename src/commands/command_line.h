#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/json.h"
#include "base/user_error.h"

namespace quintalis {

// Helpers shared by the command-line commands. Commands run on the main thread.

// Prints compact JSON and a line feed on standard output.
void out(const JSON& value);
// The entry after the first occurrence of `name`; nothing when absent or last.
std::optional<std::string> option(const std::vector<std::string>& args, const std::string& name);
// Ends the command with status 1 and the message on standard error: throws
// it as a CommandFailure, which the entry reports (as it does any UserError)
// after the ordered stop has put the phones back.
[[noreturn]] void fail(const std::string& message);

// Raised by commands and the work they share; the entry prints what() and
// ends with status 1, so the work itself stays testable.
class CommandFailure : public UserError {
public:
    using UserError::UserError;
};

// A command's collaborator, made when the command first uses it rather than
// when the command is called, so that its arguments are checked before
// anything starts (a simulator, a device search) that may speak on standard
// error: a usage error is then the only thing said. Tests hand over one
// that is made already.
template <typename T>
class Deferred {
public:
    Deferred(T& made) : make_([&made]() -> T& { return made; }) {}  // implicit: any T& will do
    explicit Deferred(std::function<T&()> make) : make_(std::move(make)) {}

    T& operator*() const {
        if (!made_) made_ = &make_();
        return *made_;
    }
    T* operator->() const { return &**this; }

private:
    std::function<T&()> make_;
    mutable T* made_ = nullptr;
};

// Seconds a command waits, from an option's text: a number (parseNumber),
// else `fallback`; kept within [0, a day], so that any wait can be added to
// a time without overflowing it.
Duration waitSeconds(const std::optional<std::string>& text, double fallback);

// Evaluates `condition` until it holds or `timeout` has passed on `clock`,
// sleeping `step` between tries, then evaluates it once more. Returns its
// last value.
bool waitFor(Clock& clock, Duration timeout, const std::function<bool()>& condition,
             Duration step = std::chrono::milliseconds(100));

}  // namespace quintalis
