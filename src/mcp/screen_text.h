#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/json.h"
#include "imaging/image_ops.h"

namespace quintalis::mcp {

// One line of text on the screen and the centre of its box, in the pixels
// of the picture it was read from.
struct ScreenText {
    std::string text;
    int x = 0;
    int y = 0;
};

// The lines of a recognition ({"text", "x", "y", "w", "h"} each), in its order.
std::vector<ScreenText> screenTexts(const JSON& recognized);

// The same lines with their centres in pixels of an image of size `to`
// instead of `from` (both of the same screen).
std::vector<ScreenText> inSpace(std::vector<ScreenText> lines, const ImageSize& from, const ImageSize& to);

// `"Settings" at (70, 180)`, one line each.
std::string listing(const std::vector<ScreenText>& lines);

// Text in double quotes, escaped as in JSON.
std::string inQuotes(const std::string& text);

// The lines a tap by text may mean. Letter case and runs of spaces do not
// count. Lines that read exactly the query win; failing those, lines that
// contain it. One line is an answer; several are ambiguous.
std::vector<ScreenText> linesReading(const std::vector<ScreenText>& lines, const std::string& query);

}  // namespace quintalis::mcp
