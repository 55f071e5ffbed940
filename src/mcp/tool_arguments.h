#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/json.h"
#include "base/user_error.h"

namespace quintalis::mcp {

// An argument a model sent that a tool cannot take, in a sentence that names it.
class ArgumentError : public UserError {
public:
    using UserError::UserError;
};

// One argument of a tool. The same rule writes the tool's input schema and
// checks what a call sends, so a bound a model reads is the bound it meets.
struct ArgumentRule {
    enum class Kind { text, number, whole, flag, names };  // string, number, integer, boolean, array of strings

    std::string name;
    Kind kind = Kind::text;
    std::optional<double> minimum;
    std::optional<double> maximum;
    JSON fallback;                     // the default a model reads; null when there is none
    std::vector<std::string> choices;  // text and names: the only values taken
    std::string unit;                  // in refusals: "pixels", "seconds", "ms"
    std::string description;
    bool required = false;
};

struct ToolRule {
    std::string name;
    std::string title;
    std::string description;
    std::vector<ArgumentRule> arguments;
    bool readOnly = false;
};

// The tools/list entry of a tool: its input schema refuses names it does not list.
JSON toolDefinition(const ToolRule& tool);

// A call's arguments, checked against its tool's rules: an unknown name, a
// value of the wrong type, outside its bounds or not among its choices, and
// a missing required one are refused with an ArgumentError. Reading an
// argument the tool does not have is a programming error (logic_error).
class CheckedArguments {
public:
    CheckedArguments(const ToolRule& tool, const JSON& given);

    bool has(const std::string& name) const;
    std::optional<double> number(const std::string& name) const;  // numbers and whole numbers
    std::optional<std::string> text(const std::string& name) const;
    bool flag(const std::string& name) const;                    // absent: the rule's default
    std::vector<std::string> names(const std::string& name) const;  // absent: none

private:
    const ArgumentRule& rule(const std::string& name, ArgumentRule::Kind kind) const;
    const JSON* value(const std::string& name) const;

    const ToolRule& tool_;
    JSON given_;
};

// A number as a refusal writes it: 0.05, 10, 4096.
std::string numberText(double value);

}  // namespace quintalis::mcp
