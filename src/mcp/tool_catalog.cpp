#include "mcp/tool_catalog.h"

namespace quintalis::mcp {
namespace {

JSON tool(const char* name, const char* title, const char* description, JSON properties,
          JSON required = JSON::array(), bool readOnly = false) {
    JSON schema{{"type", "object"}, {"properties", std::move(properties)}};
    if (!required.empty()) schema["required"] = std::move(required);
    JSON definition{{"name", name}, {"title", title}, {"description", description}, {"inputSchema", std::move(schema)}};
    if (readOnly) definition["annotations"] = JSON{{"readOnlyHint", true}};
    return definition;
}

JSON phone() {
    return JSON{{"type", "string"},
                {"description", "The phone's id from phones. May be left out when only one phone is connected."}};
}

JSON settle() {
    return JSON{{"type", "boolean"},
                {"default", true},
                {"description", "Wait until the screen has settled (at most 2.5 s) before returning."}};
}

JSON pixel(const char* what) {
    return JSON{{"type", "number"}, {"description", what}};
}

JSON imageSide(const char* side) {
    return JSON{{"type", "number"},
                {"exclusiveMinimum", 0},
                {"description", std::string("The ") + side +
                                    " in pixels of the image the coordinates refer to, when it is not the last look's."}};
}

}  // namespace

JSON phoneToolDefinitions() {
    JSON tools = JSON::array();
    tools.push_back(tool(
        "phones", "List phones",
        "List the iPhones Quintalis can see and operate: each phone's id and name, how its screen is seen (USB cable "
        "or AirPlay), whether Bluetooth reaches it (needed to act on it), and whether the owner has paused control.",
        JSON::object(), JSON::array(), true));
    tools.push_back(tool(
        "look", "Look at the screen",
        "Take a screenshot of the iPhone's screen. Returns a JPEG image and a text part that gives the screen's and "
        "the image's sizes and lists the text on the screen with the centre of each line in image pixels. tap and "
        "swipe take x/y in pixels of this image.",
        JSON{{"phone", phone()},
             {"maxEdge", JSON{{"type", "integer"}, {"minimum", 64}, {"maximum", 4096}, {"default", 1200},
                              {"description", "The longest side of the image, in pixels."}}},
             {"text", JSON{{"type", "boolean"}, {"default", true},
                           {"description", "Recognise the text on the screen (about a second); false leaves it out."}}}},
        JSON::array(), true));
    tools.push_back(tool(
        "tap", "Tap",
        "Tap the iPhone's screen at x/y, pixels of the last look's image, or on visible text such as a button's "
        "label. Then waits for the screen to settle and says how long that took.",
        JSON{{"phone", phone()},
             {"x", pixel("Pixels from the left edge of the last look's image.")},
             {"y", pixel("Pixels from the top edge of the last look's image.")},
             {"imageWidth", imageSide("width")},
             {"imageHeight", imageSide("height")},
             {"text", JSON{{"type", "string"},
                           {"description", "Visible text to tap instead of x/y, matched ignoring case against a fresh "
                                           "reading of the screen; it must be on the screen once."}}},
             {"hold", JSON{{"type", "number"}, {"minimum", 0}, {"maximum", 10}, {"default", 0.08},
                           {"description", "Seconds the finger stays down; about 1 for a long press."}}},
             {"settle", settle()}}));
    tools.push_back(tool(
        "swipe", "Swipe",
        "Drag a finger across the iPhone's screen: from x1/y1 to x2/y2 in pixels of the last look's image, or in a "
        "direction through the middle of the screen. Swiping up scrolls a list down. Then waits for the screen to "
        "settle.",
        JSON{{"phone", phone()},
             {"direction", JSON{{"type", "string"}, {"enum", {"up", "down", "left", "right"}},
                                {"description", "The way the finger moves, over 40% of the screen through its middle. "
                                                "Instead of x1/y1/x2/y2."}}},
             {"x1", pixel("Start, pixels from the left edge of the last look's image.")},
             {"y1", pixel("Start, pixels from the top edge.")},
             {"x2", pixel("End, pixels from the left edge.")},
             {"y2", pixel("End, pixels from the top edge.")},
             {"imageWidth", imageSide("width")},
             {"imageHeight", imageSide("height")},
             {"duration", JSON{{"type", "number"}, {"minimum", 0.05}, {"maximum", 10}, {"default", 0.3},
                               {"description", "Seconds the drag takes."}}},
             {"settle", settle()}}));
    tools.push_back(tool(
        "type", "Type text",
        "Type text into the iPhone's focused text field, as on a US keyboard (tap the field first). Use key for "
        "Return and shortcuts.",
        JSON{{"phone", phone()}, {"text", JSON{{"type", "string"}, {"description", "The text to type."}}},
             {"settle", settle()}},
        JSON::array({"text"})));
    tools.push_back(tool(
        "key", "Press a key",
        "Press one key of the iPhone's keyboard, with modifiers if given: return, escape, backspace, tab, space, up, "
        "down, left, right, home, end, pageup, pagedown, forwarddelete, or a single character.",
        JSON{{"phone", phone()},
             {"key", JSON{{"type", "string"}, {"description", "A key name from the list, or one character."}}},
             {"modifiers", JSON{{"type", "array"},
                                {"items", JSON{{"type", "string"}, {"enum", {"cmd", "ctrl", "alt", "shift"}}}},
                                {"description", "Keys held while it is pressed."}}},
             {"settle", settle()}},
        JSON::array({"key"})));
    tools.push_back(tool("home", "Go home", "Go to the iPhone's Home Screen, as the Home button does.",
                         JSON{{"phone", phone()}, {"settle", settle()}}));
    tools.push_back(tool(
        "wait", "Wait for the screen",
        "Wait until the iPhone's screen stops changing, for example while an app loads. Says whether it settled and "
        "how long that took.",
        JSON{{"phone", phone()},
             {"quiet", JSON{{"type", "integer"}, {"minimum", 0}, {"default", 250},
                            {"description", "Milliseconds the screen must stay still after its last change."}}},
             {"first", JSON{{"type", "integer"}, {"minimum", 0}, {"default", 900},
                            {"description", "Milliseconds after which a screen that has not changed at all counts as "
                                            "settled."}}},
             {"max", JSON{{"type", "integer"}, {"minimum", 0}, {"maximum", 60000}, {"default", 2500},
                          {"description", "Milliseconds to wait at most."}}}},
        JSON::array(), true));
    return tools;
}

}  // namespace quintalis::mcp
