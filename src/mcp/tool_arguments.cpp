#include "mcp/tool_arguments.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace quintalis::mcp {
namespace {

using Kind = ArgumentRule::Kind;

const char* typeName(Kind kind) {
    switch (kind) {
        case Kind::text: return "string";
        case Kind::number: return "number";
        case Kind::whole: return "integer";
        case Kind::flag: return "boolean";
        case Kind::names: return "array";
    }
    return "string";
}

const char* kindWords(Kind kind) {
    switch (kind) {
        case Kind::text: return "a string";
        case Kind::number: return "a number";
        case Kind::whole: return "a whole number";
        case Kind::flag: return "true or false";
        case Kind::names: return "a list of strings";
    }
    return "a string";
}

JSON schemaOf(const ArgumentRule& rule) {
    JSON schema{{"type", typeName(rule.kind)}, {"description", rule.description}};
    if (rule.minimum) schema["minimum"] = *rule.minimum;
    if (rule.maximum) schema["maximum"] = *rule.maximum;
    if (!rule.fallback.is_null()) schema["default"] = rule.fallback;
    if (!rule.choices.empty()) {
        if (rule.kind == Kind::names) {
            schema["items"] = JSON{{"type", "string"}, {"enum", rule.choices}};
        } else {
            schema["enum"] = rule.choices;
        }
    }
    return schema;
}

std::string listed(const std::vector<std::string>& words) {
    std::string out;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0) out += i + 1 == words.size() ? " or " : ", ";
        out += words[i];
    }
    return out;
}

void checkBounds(const ArgumentRule& rule, double number) {
    bool low = rule.minimum && number < *rule.minimum;
    bool high = rule.maximum && number > *rule.maximum;
    if (!low && !high) return;
    std::string unit = rule.unit.empty() ? "" : " " + rule.unit;
    if (rule.minimum && rule.maximum) {
        throw ArgumentError(rule.name + " must be from " + numberText(*rule.minimum) + " to " +
                            numberText(*rule.maximum) + unit);
    }
    if (rule.minimum) throw ArgumentError(rule.name + " must be at least " + numberText(*rule.minimum) + unit);
    throw ArgumentError(rule.name + " must be at most " + numberText(*rule.maximum) + unit);
}

void checkValue(const ArgumentRule& rule, const JSON& value) {
    bool fits = false;
    switch (rule.kind) {
        case Kind::text: fits = value.is_string(); break;
        case Kind::number: fits = value.is_number(); break;
        case Kind::whole:
            fits = value.is_number() && std::trunc(value.get<double>()) == value.get<double>();
            break;
        case Kind::flag: fits = value.is_boolean(); break;
        case Kind::names:
            fits = value.is_array() &&
                   std::all_of(value.begin(), value.end(), [](const JSON& item) { return item.is_string(); });
            break;
    }
    if (!fits) throw ArgumentError(rule.name + " must be " + kindWords(rule.kind));
    if (value.is_number()) checkBounds(rule, value.get<double>());
    if (rule.choices.empty()) return;
    auto allowed = [&](const JSON& item) {
        return std::find(rule.choices.begin(), rule.choices.end(), item.get<std::string>()) != rule.choices.end();
    };
    bool chosen = rule.kind == Kind::names ? std::all_of(value.begin(), value.end(), allowed) : allowed(value);
    if (!chosen) throw ArgumentError(rule.name + " must be " + (rule.kind == Kind::names ? "among " : "") +
                                     listed(rule.choices));
}

}  // namespace

std::string numberText(double value) {
    std::ostringstream out;
    out.precision(10);
    out << value;
    return out.str();
}

JSON toolDefinition(const ToolRule& tool) {
    JSON properties = JSON::object();
    JSON required = JSON::array();
    for (const auto& rule : tool.arguments) {
        properties[rule.name] = schemaOf(rule);
        if (rule.required) required.push_back(rule.name);
    }
    JSON schema{{"type", "object"}, {"properties", std::move(properties)}, {"additionalProperties", false}};
    if (!required.empty()) schema["required"] = std::move(required);
    JSON definition{{"name", tool.name}, {"title", tool.title}, {"description", tool.description},
                    {"inputSchema", std::move(schema)}};
    if (tool.readOnly) definition["annotations"] = JSON{{"readOnlyHint", true}};
    return definition;
}

CheckedArguments::CheckedArguments(const ToolRule& tool, const JSON& given) : tool_(tool), given_(given) {
    std::vector<std::string> unknown;
    for (auto it = given_.begin(); it != given_.end(); ++it) {
        auto found = std::find_if(tool.arguments.begin(), tool.arguments.end(),
                                  [&](const ArgumentRule& rule) { return rule.name == it.key(); });
        if (found == tool.arguments.end()) unknown.push_back(it.key());
    }
    if (!unknown.empty()) {
        std::vector<std::string> known;
        for (const auto& rule : tool.arguments) known.push_back(rule.name);
        throw ArgumentError(tool.name + " has no argument " + listed(unknown) +
                            (known.empty() ? "; it takes none." : "; it takes " + listed(known) + "."));
    }
    for (const auto& rule : tool.arguments) {
        const JSON* found = value(rule.name);
        if (!found) {
            if (rule.required) throw ArgumentError(rule.name + " is required: " + rule.description);
            continue;
        }
        checkValue(rule, *found);
    }
}

const JSON* CheckedArguments::value(const std::string& name) const {
    auto found = given_.find(name);
    // A model that sends null means "not given".
    return found == given_.end() || found->is_null() ? nullptr : &*found;
}

const ArgumentRule& CheckedArguments::rule(const std::string& name, Kind kind) const {
    for (const auto& rule : tool_.arguments) {
        if (rule.name != name) continue;
        bool numeric = kind == Kind::number && rule.kind == Kind::whole;
        if (rule.kind != kind && !numeric) break;
        return rule;
    }
    throw std::logic_error(tool_.name + " has no " + kindWords(kind) + " argument " + name);
}

bool CheckedArguments::has(const std::string& name) const { return value(name) != nullptr; }

std::optional<double> CheckedArguments::number(const std::string& name) const {
    rule(name, Kind::number);
    const JSON* found = value(name);
    return found ? std::optional<double>(found->get<double>()) : std::nullopt;
}

std::optional<std::string> CheckedArguments::text(const std::string& name) const {
    rule(name, Kind::text);
    const JSON* found = value(name);
    return found ? std::optional<std::string>(found->get<std::string>()) : std::nullopt;
}

bool CheckedArguments::flag(const std::string& name) const {
    const ArgumentRule& flagRule = rule(name, Kind::flag);
    const JSON* found = value(name);
    if (found) return found->get<bool>();
    return flagRule.fallback.is_boolean() && flagRule.fallback.get<bool>();
}

std::vector<std::string> CheckedArguments::names(const std::string& name) const {
    rule(name, Kind::names);
    const JSON* found = value(name);
    return found ? found->get<std::vector<std::string>>() : std::vector<std::string>{};
}

}  // namespace quintalis::mcp
