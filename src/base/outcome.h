#pragma once

#include <optional>
#include <string>
#include <utility>

namespace quintalis {

// What work that may fail for a reason the user should read hands back:
// success, or the sentence that says why not. For failures the caller
// handles as a value (shows on a page, logs, answers); failures that end
// the work are thrown as a UserError instead.
class [[nodiscard]] Outcome {
public:
    static Outcome success() { return Outcome(); }
    static Outcome failure(std::string message) { return Outcome(std::move(message)); }

    bool ok() const { return !message_; }
    // Why it failed; empty when it did not.
    const std::string& message() const {
        static const std::string none;
        return message_ ? *message_ : none;
    }

    bool operator==(const Outcome&) const = default;

private:
    Outcome() = default;
    explicit Outcome(std::string message) : message_(std::move(message)) {}

    std::optional<std::string> message_;
};

}  // namespace quintalis
