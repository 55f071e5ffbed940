#include "engine/actions.h"

#include <climits>
#include <cmath>

#include "engine/routes.h"
#include "imaging/image_ops.h"

namespace quintalis {
namespace {

// A number, or a Boolean as 1 or 0; a string never counts.
std::optional<double> number(const JSON& body, const std::string& name) {
    auto found = body.find(name);
    if (found == body.end()) return std::nullopt;
    if (found->is_boolean()) return found->get<bool>() ? 1.0 : 0.0;
    if (found->is_number()) return found->get<double>();
    return std::nullopt;
}

// A whole number that fits; anything else counts as 0.
int integer(const JSON& body, const std::string& name) {
    auto value = number(body, name);
    if (!value || *value != std::trunc(*value) || *value < INT_MIN || *value > INT_MAX) return 0;
    return static_cast<int>(*value);
}

}  // namespace

Input::Point actionPoint(const JSON& body, const std::string& xk, const std::string& yk, bool hasScreen,
                         const std::optional<ImageSize>& frame, const std::string& screenName) {
    auto x = number(body, xk);
    auto y = number(body, yk);
    const bool fraction = isTrue(body, "fraction");
    if (!hasScreen) {
        if (fraction && x && y) return {*x, *y};
        throw RouteError("without a USB screen, " + xk + "/" + yk + " must be fractions (0-1) with fraction: true");
    }
    if (!x || !y) throw RouteError(xk + " and " + yk + " are required");
    if (fraction) return {*x, *y};
    if (!frame) throw RouteError("no frame yet from " + screenName);
    double width = frame->width;
    double height = frame->height;
    if (auto maxEdge = number(body, "maxEdge")) {
        // Cut to a whole number as the screenshot's limit was; refuse what is
        // not a usable limit rather than divide by it.
        if (!std::isfinite(*maxEdge) || *maxEdge <= 0 || *maxEdge > INT_MAX) {
            throw RouteError("maxEdge must be a positive number");
        }
        if (*maxEdge < 1) throw RouteError("maxEdge must be at least 1");
        ImageSize picture = imageSize(width, height, std::nullopt, static_cast<int>(*maxEdge));
        width = picture.width;
        height = picture.height;
    }
    if (auto w = number(body, "width")) width = *w;
    if (auto h = number(body, "height")) height = *h;
    if (!(width > 0) || !(height > 0)) throw RouteError("width and height must be positive");
    return {*x / width, *y / height};
}

HTTPResponse perform(const std::string& path, const JSON& body, Input& input, const std::optional<Device>& device,
                     const std::string& id) {
    std::optional<ImageSize> frame;
    std::string screenName;
    auto point = [&](const std::string& xk, const std::string& yk) {
        if (device && !frame) {
            frame = device->screen->size();
            screenName = device->screen->name();
        }
        return actionPoint(body, xk, yk, device.has_value(), frame, screenName);
    };
    if (path == "/tap") {
        auto at = point("x", "y");
        input.tap(at.x, at.y, number(body, "hold").value_or(0.08));
    } else if (path == "/swipe") {
        auto from = point("x1", "y1");
        auto to = point("x2", "y2");
        input.swipe(from, to, number(body, "duration").value_or(0.3));
    } else if (path == "/move") {
        auto at = point("x", "y");
        input.move(at.x, at.y);
    } else if (path == "/nudge") {
        input.nudge(integer(body, "dx"), integer(body, "dy"), isTrue(body, "click"));
    } else if (path == "/type") {
        auto text = body.find("text");
        if (text == body.end() || !text->is_string()) throw RouteError("text is required");
        input.type(text->get<std::string>());
    } else if (path == "/key") {
        auto key = body.find("key");
        if (key == body.end() || !key->is_string()) throw RouteError("key is required");
        std::vector<std::string> modifiers;
        if (auto list = body.find("modifiers"); list != body.end() && list->is_array()) {
            for (const auto& item : *list) {
                if (!item.is_string()) {
                    modifiers.clear();  // not an array of strings: no modifiers at all
                    break;
                }
                modifiers.push_back(item.get<std::string>());
            }
        }
        input.key(key->get<std::string>(), modifiers);
    } else if (path == "/home") {
        input.consumer(kHomeUsage);
    } else {
        return HTTPResponse::error("not found", 404);
    }
    return HTTPResponse::json(JSON{{"device", id}, {"ok", true}});
}

}  // namespace quintalis
