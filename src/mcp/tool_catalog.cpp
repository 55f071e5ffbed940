#include "mcp/tool_catalog.h"

#include <algorithm>

#include "bluetooth/input.h"
#include "mcp/tool_sentences.h"

namespace quintalis::mcp {
namespace {

using Kind = ArgumentRule::Kind;

ArgumentRule phone() {
    return {"phone", Kind::text, {}, {}, nullptr, {}, "",
            "The phone's id from phones. May be left out when only one phone is connected."};
}

ArgumentRule settle() {
    return {"settle", Kind::flag, {}, {}, true, {}, "",
            "Wait until the screen has settled (at most 2.5 s) before returning."};
}

ArgumentRule pixel(const char* name, const char* description) {
    return {name, Kind::number, 0.0, {}, nullptr, {}, "pixels", description};
}

ArgumentRule imageSide(const char* name, const char* side) {
    return {name, Kind::number, 1.0, kLargestImageSide, nullptr, {}, "pixels",
            std::string("The ") + side + " in pixels of the image the coordinates refer to, when it is not the last "
                                         "look's. Give imageWidth and imageHeight together."};
}

ArgumentRule milliseconds(const char* name, int64_t fallback, const char* description) {
    return {name, Kind::whole, 0.0, static_cast<double>(kLongestWait), fallback, {}, "ms", description};
}

std::vector<ToolRule> rules() {
    return {
        {"phones", "List phones",
         "List the iPhones Quintalis can see and operate: each phone's id and name, how its screen is seen (USB "
         "cable or AirPlay), whether Bluetooth reaches it (needed to act on it), and whether the owner has paused "
         "control.",
         {}, true},
        {"look", "Look at the screen",
         "Take a screenshot of the iPhone's screen. Returns a JPEG image and a text part that gives the screen's and "
         "the image's sizes and lists the text on the screen with the centre of each line in pixels of this image "
         "(the text is read from the full-resolution screen whatever the image's size). tap and swipe take x/y in "
         "pixels of the last image look returned.",
         {phone(),
          {"maxEdge", Kind::whole, 64.0, 4096.0, kDefaultEdge, {}, "pixels", "The longest side of the image, in pixels."},
          {"text", Kind::flag, {}, {}, true, {}, "", "Recognise the text on the screen; false leaves it out."}},
         true},
        {"tap", "Tap",
         "Tap the iPhone's screen at x/y, pixels of the last look's image, or on visible text such as a button's "
         "label. Then waits for the screen to settle and says how long that took. Every position in the reply is in "
         "pixels of the last look's image.",
         {phone(), pixel("x", "Pixels from the left edge of the last look's image."),
          pixel("y", "Pixels from the top edge of the last look's image."), imageSide("imageWidth", "width"),
          imageSide("imageHeight", "height"),
          {"text", Kind::text, {}, {}, nullptr, {}, "",
           "Visible text to tap instead of x/y, matched ignoring case against a fresh reading of the screen; it must "
           "be on the screen once."},
          {"hold", Kind::number, 0.0, 10.0, Input::pressHold, {}, "seconds", "Seconds the finger stays down; about 1 for a long press."},
          settle()}},
        {"swipe", "Swipe",
         "Drag a finger across the iPhone's screen: from x1/y1 to x2/y2 in pixels of the last look's image, or in a "
         "direction through the middle of the screen. Swiping up scrolls a list down. Then waits for the screen to "
         "settle.",
         {phone(),
          {"direction", Kind::text, {}, {}, nullptr, {"up", "down", "left", "right"}, "",
           "The way the finger moves, over 40% of the screen through its middle. Instead of x1/y1/x2/y2."},
          pixel("x1", "Start, pixels from the left edge of the last look's image."),
          pixel("y1", "Start, pixels from the top edge."), pixel("x2", "End, pixels from the left edge."),
          pixel("y2", "End, pixels from the top edge."), imageSide("imageWidth", "width"),
          imageSide("imageHeight", "height"),
          {"duration", Kind::number, 0.05, 10.0, 0.3, {}, "seconds", "Seconds the drag takes."}, settle()}},
        {"type", "Type text",
         "Type text into the iPhone's focused text field, as on a US keyboard (tap the field first). Capitals and "
         "symbols are typed with Shift as needed. Use key for Return and shortcuts. A call without a progressToken "
         "types at most " + silentTypingLimit() + "; longer text is refused before any of it is typed.",
         {phone(), {"text", Kind::text, {}, {}, nullptr, {}, "", "The text to type.", true}, settle()}},
        {"key", "Press a key",
         "Press one key of the iPhone's keyboard, with modifiers if given: return, escape, backspace, tab, space, up, "
         "down, left, right, home, end, pageup, pagedown, forwarddelete, or a single character. A character is its "
         "key alone: \"A\" and \"!\" press the a and 1 keys unless modifiers has \"shift\" (type types capitals and "
         "symbols as they are).",
         {phone(), {"key", Kind::text, {}, {}, nullptr, {}, "", "A key name from the list, or one character.", true},
          {"modifiers", Kind::names, {}, {}, nullptr, {"cmd", "ctrl", "alt", "shift"}, "",
           "Keys held while it is pressed."},
          settle()}},
        {"home", "Go home", "Go to the iPhone's Home Screen, as the Home button does.", {phone(), settle()}},
        {"wait", "Wait for the screen",
         "Wait until the iPhone's screen stops changing, for example while an app loads. Says whether it settled and "
         "how long that took.",
         {phone(), milliseconds("quiet", 250, "Milliseconds the screen must stay still after its last change."),
          milliseconds("first", 900,
                       "Milliseconds after which a screen that has not changed at all counts as settled."),
          milliseconds("max", 2500, "Milliseconds to wait at most.")},
         true},
    };
}

}  // namespace

const std::vector<ToolRule>& phoneToolRules() {
    static const std::vector<ToolRule> all = rules();
    return all;
}

const ToolRule* phoneToolRule(const std::string& name) {
    const auto& all = phoneToolRules();
    auto found = std::find_if(all.begin(), all.end(), [&](const ToolRule& rule) { return rule.name == name; });
    return found == all.end() ? nullptr : &*found;
}

}  // namespace quintalis::mcp
