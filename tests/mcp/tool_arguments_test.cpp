#include <gtest/gtest.h>

#include "mcp/tool_catalog.h"

using namespace quintalis;
using namespace quintalis::mcp;

namespace {

// A value every rule takes, for the arguments a call must have.
JSON fitting(const ArgumentRule& rule) {
    switch (rule.kind) {
        case ArgumentRule::Kind::text: return rule.choices.empty() ? JSON("a") : JSON(rule.choices.front());
        case ArgumentRule::Kind::flag: return true;
        case ArgumentRule::Kind::names: return JSON::array();
        default: return rule.minimum.value_or(0);
    }
}

// The arguments a call needs, with `name` set to `value`.
JSON with(const ToolRule& tool, const std::string& name, const JSON& value) {
    JSON arguments = JSON::object();
    for (const auto& rule : tool.arguments) {
        if (rule.required) arguments[rule.name] = fitting(rule);
    }
    arguments[name] = value;
    return arguments;
}

std::string refusal(const ToolRule& tool, const JSON& arguments) {
    try {
        CheckedArguments checked(tool, arguments);
        return "";
    } catch (const ArgumentError& error) {
        return error.what();
    }
}

}  // namespace

// Every bound the schema shows is the bound the checks hold, on both sides.
TEST(ToolArguments, EveryBoundInTheSchemaIsTheOneEnforced) {
    int bounds = 0;
    for (const auto& tool : phoneToolRules()) {
        JSON properties = toolDefinition(tool)["inputSchema"]["properties"];
        for (const auto& rule : tool.arguments) {
            const JSON& schema = properties[rule.name];
            const double step = rule.kind == ArgumentRule::Kind::whole ? 1 : 0.01;
            const std::string where = tool.name + "." + rule.name;
            // Each bound: the schema shows it, the bound itself is taken, one step past it is refused.
            for (auto [key, bound, past] : {std::tuple{"minimum", rule.minimum, -step}, {"maximum", rule.maximum, step}}) {
                if (!bound) continue;
                ++bounds;
                EXPECT_EQ(schema[key], *bound) << where;
                EXPECT_EQ(refusal(tool, with(tool, rule.name, *bound)), "") << where;
                EXPECT_EQ(refusal(tool, with(tool, rule.name, *bound + past)).rfind(rule.name + " must be", 0), 0u) << where;
            }
            if (!rule.fallback.is_null()) {
                EXPECT_EQ(schema["default"], rule.fallback) << where;
                EXPECT_EQ(refusal(tool, with(tool, rule.name, rule.fallback)), "") << where;
            }
            if (rule.required) {
                JSON missing = with(tool, rule.name, nullptr);
                missing.erase(rule.name);
                EXPECT_NE(refusal(tool, missing), "") << where;
            }
        }
    }
    // maxEdge, hold, duration, wait's three, the image sides and every coordinate.
    EXPECT_EQ(bounds, 2 + 2 + 2 + 6 + 8 + 6);
}

TEST(ToolArguments, WrongTypesChoicesAndNamesAreRefusedByName) {
    const ToolRule& look = *phoneToolRule("look");
    EXPECT_EQ(refusal(look, {{"maxEdge", 600.5}}), "maxEdge must be a whole number");
    EXPECT_EQ(refusal(look, {{"text", "yes"}}), "text must be true or false");
    EXPECT_EQ(refusal(look, {{"maxEdge", nullptr}}), "");  // null is "not given"
    EXPECT_EQ(refusal(look, {{"maxedge", 600}, {"zoom", 2}}), "look has no argument maxedge or zoom; it takes phone, maxEdge or text.");
    EXPECT_EQ(refusal(*phoneToolRule("swipe"), {{"direction", "sideways"}}), "direction must be up, down, left or right");
    const ToolRule& key = *phoneToolRule("key");
    EXPECT_EQ(refusal(key, {{"key", "a"}, {"modifiers", {"cmd", "hyper"}}}), "modifiers must be among cmd, ctrl, alt or shift");
    EXPECT_EQ(refusal(key, {{"key", "a"}, {"modifiers", "cmd"}}), "modifiers must be a list of strings");

    CheckedArguments checked(look, {{"maxEdge", 600}});
    EXPECT_EQ(checked.number("maxEdge"), 600);
    EXPECT_TRUE(checked.flag("text"));  // its default
}
