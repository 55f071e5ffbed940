#include "engine/actions.h"

#include <algorithm>
#include <cmath>

#include "base/characters.h"
#include "base/max_edge.h"
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

// A whole number of mouse counts; a fraction counts as 0.
int counts(const JSON& body, const std::string& name) {
    auto value = number(body, name);
    if (!value || !std::isfinite(*value) || *value != std::trunc(*value)) return 0;
    if (std::fabs(*value) > kMaxNudge) {
        throw RouteError("dx and dy must be between -" + std::to_string(kMaxNudge) + " and " + std::to_string(kMaxNudge));
    }
    return static_cast<int>(*value);
}

// A time in seconds, or the default; negative counts as none.
double seconds(const JSON& body, const std::string& name, double fallback) {
    auto value = number(body, name);
    if (!value) return fallback;
    if (!std::isfinite(*value) || *value > kMaxGestureSeconds) {
        throw RouteError(name + " must be between 0 and " + std::to_string(static_cast<int>(kMaxGestureSeconds)) +
                         " seconds");
    }
    return std::max(*value, 0.0);
}

// After a gesture the phone's pointer would stay where the finger was, over
// what was tapped and often over the next screen's first row, where it
// hides text from the owner and from text recognition alike.
void rest(Input& input) { input.move(Input::restingPlace.x, Input::restingPlace.y); }

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
    if (auto member = body.find("maxEdge"); member != body.end()) {
        auto maxEdge = maxEdgeFromJSON(*member);
        if (!maxEdge) throw RouteError(kMaxEdgeRule);
        ImageSize picture = imageSize(width, height, std::nullopt, *maxEdge);
        width = picture.width;
        height = picture.height;
    }
    if (auto w = number(body, "width")) width = *w;
    if (auto h = number(body, "height")) height = *h;
    if (!(width > 0) || !(height > 0)) throw RouteError("width and height must be positive");
    return {*x / width, *y / height};
}

std::optional<Gesture> prepareAction(const std::string& path, const JSON& body, const std::optional<Device>& device) {
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
        double hold = seconds(body, "hold", Input::pressHold);
        return [at, hold](Input& input) {
            input.tap(at.x, at.y, hold);
            rest(input);
        };
    }
    if (path == "/swipe") {
        auto from = point("x1", "y1");
        auto to = point("x2", "y2");
        double duration = seconds(body, "duration", 0.3);
        return [from, to, duration](Input& input) {
            input.swipe(from, to, duration);
            rest(input);
        };
    }
    if (path == "/move") {
        if (isTrue(body, "rest")) return [](Input& input) { rest(input); };
        auto at = point("x", "y");
        return [at](Input& input) { input.move(at.x, at.y); };
    }
    if (path == "/nudge") {
        int dx = counts(body, "dx");
        int dy = counts(body, "dy");
        bool click = isTrue(body, "click");
        return [dx, dy, click](Input& input) { input.nudge(dx, dy, click); };
    }
    if (path == "/type") {
        auto text = body.find("text");
        if (text == body.end() || !text->is_string()) throw RouteError("text is required");
        if (auto tooLong = typedTextTooLong(text->get_ref<const std::string&>())) throw RouteError(*tooLong);
        auto strokes = Input::strokesFor(text->get<std::string>());
        return [strokes](Input& input) { input.type(strokes); };
    }
    if (path == "/key") {
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
        auto stroke = Input::strokeFor(key->get<std::string>(), modifiers);
        return [stroke](Input& input) { input.key(stroke); };
    }
    if (path == "/home") return [](Input& input) { input.consumer(kHomeUsage); };
    return std::nullopt;
}

}  // namespace quintalis
