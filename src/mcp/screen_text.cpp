#include "mcp/screen_text.h"

#include <cmath>

#include "base/text.h"

namespace quintalis::mcp {
namespace {

// Lower case, single spaces, none at the ends.
std::string normalised(const std::string& text) {
    std::string out;
    for (char c : asciiLowercase(text)) {
        bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (space) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

double numberOrZero(const JSON& line, const char* key) {
    auto found = line.find(key);
    return found != line.end() && found->is_number() ? found->get<double>() : 0;
}

}  // namespace

std::vector<ScreenText> screenTexts(const JSON& recognized) {
    std::vector<ScreenText> lines;
    for (const auto& line : recognized) {
        auto text = line.find("text");
        if (text == line.end() || !text->is_string()) continue;
        double x = numberOrZero(line, "x") + numberOrZero(line, "w") / 2;
        double y = numberOrZero(line, "y") + numberOrZero(line, "h") / 2;
        lines.push_back(ScreenText{*text, static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))});
    }
    return lines;
}

std::vector<ScreenText> inSpace(std::vector<ScreenText> lines, const ImageSize& from, const ImageSize& to) {
    if (from.width <= 0 || from.height <= 0 || (from.width == to.width && from.height == to.height)) return lines;
    for (auto& line : lines) {
        line.x = static_cast<int>(std::lround(static_cast<double>(line.x) * to.width / from.width));
        line.y = static_cast<int>(std::lround(static_cast<double>(line.y) * to.height / from.height));
    }
    return lines;
}

std::string inQuotes(const std::string& text) { return JSON(text).dump(-1, ' ', false, JSON::error_handler_t::replace); }

std::string listing(const std::vector<ScreenText>& lines) {
    std::string out;
    for (const auto& line : lines) {
        out += inQuotes(line.text) + " at (" + std::to_string(line.x) + ", " + std::to_string(line.y) + ")\n";
    }
    return out;
}

std::vector<ScreenText> linesReading(const std::vector<ScreenText>& lines, const std::string& query) {
    const std::string wanted = normalised(query);
    std::vector<ScreenText> exact;
    std::vector<ScreenText> containing;
    if (wanted.empty()) return exact;
    for (const auto& line : lines) {
        std::string seen = normalised(line.text);
        if (seen == wanted) {
            exact.push_back(line);
        } else if (seen.find(wanted) != std::string::npos) {
            containing.push_back(line);
        }
    }
    return exact.empty() ? containing : exact;
}

}  // namespace quintalis::mcp
