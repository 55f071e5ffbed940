#include "simulator/virtual_phone.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "bluetooth/keymap.h"
#include "simulator/phone_renderer.h"

namespace quintalis::simulator {
namespace {

struct Model {
    int width;
    int height;
    double scale;
    const char* name;
};

const Model kModels[] = {
    {1179, 2556, 3, "iPhone 15 Pro"},
    {1170, 2532, 3, "iPhone 14"},
    {1206, 2622, 3, "iPhone 16 Pro"},
    {750, 1334, 2, "iPhone SE"},
};

constexpr double kDragStart = 10;      // points a touch moves before it is a drag
constexpr double kHomeEdge = 40;       // points from the bottom where a swipe up goes home
constexpr double kHomeDistance = 100;  // points a swipe from that edge must travel up

// Keyboard usage and Shift back to the character a US keyboard types.
const std::map<std::pair<uint8_t, bool>, std::string>& characters() {
    static const auto table = [] {
        std::map<std::pair<uint8_t, bool>, std::string> map;
        std::string all = "\n\t";
        for (char c = 0x20; c < 0x7F; ++c) all += c;
        for (char c : all) {
            std::string character(1, c);
            if (auto stroke = Keymap::stroke(character)) {
                map[{stroke->code, (stroke->modifiers & Keymap::shift) != 0}] = character;
            }
        }
        return map;
    }();
    return table;
}

}  // namespace

VirtualPhone::VirtualPhone(int index, PhoneSetup setup) : setup_(setup) {
    const Model& model = kModels[index % std::size(kModels)];
    name_ = index == 0 ? "Simulated iPhone" : "Simulated iPhone " + std::to_string(index + 1);
    char id[64];
    std::snprintf(id, sizeof id, "00008120-000A1B2C3D4E5F%02X", index + 1);
    screenID_ = id;
    modelName_ = model.name;
    central_ = UUID::fromName("quintalis simulated phone " + std::to_string(index + 1));
    pixelWidth_ = model.width;
    pixelHeight_ = model.height;
    scale_ = model.scale;
    pointerX_ = pixelWidth_ / 2.0;
    pointerY_ = pixelHeight_ / 2.0;
}

bool VirtualPhone::receive(ReportID report, const Bytes& bytes) {
    if (setup_.locked || bytes.size() < inputReportLength(report)) return false;
    const double oldX = pointerX_, oldY = pointerY_;
    const bool wasShown = pointerShown_, hadScreen = screen_ != nullptr;
    switch (report) {
        case ReportID::absolutePointer: {
            if (!setup_.assistiveTouch) return false;
            auto pointer = *decodeAbsolutePointerReport(bytes);
            double previousY = pointerY_;
            pointerX_ = pointerFraction(pointer.x) * (pixelWidth_ - 1);
            pointerY_ = pointerFraction(pointer.y) * (pixelHeight_ - 1);
            pointerShown_ = true;
            pointerMoved(previousY);
            setButton(pointer.buttons & 1);
            break;
        }
        case ReportID::relativeMouse: {
            if (!setup_.assistiveTouch) return false;
            double previousY = pointerY_;
            pointerX_ = std::clamp(pointerX_ + static_cast<int8_t>(bytes[1]) * scale_, 0.0, pixelWidth_ - 1.0);
            pointerY_ = std::clamp(pointerY_ + static_cast<int8_t>(bytes[2]) * scale_, 0.0, pixelHeight_ - 1.0);
            pointerShown_ = true;
            pointerMoved(previousY);
            setButton(bytes[0] & 1);
            break;
        }
        case ReportID::keyboard:
            typeUsage(bytes[0], bytes[2]);
            break;
        case ReportID::consumer:
            if ((bytes[0] | bytes[1] << 8) == kHomeUsage) goHome();
            break;
    }
    bool changed = oldX != pointerX_ || oldY != pointerY_ || wasShown != pointerShown_ || (hadScreen && !screen_);
    if (changed) frame_.reset();
    return changed;
}

void VirtualPhone::pointerMoved(double previousY) {
    if (!buttonDown_) return;
    if (std::hypot(pointsX() - touchStartX_, pointsY() - touchStartY_) > kDragStart) dragging_ = true;
    if (!dragging_) return;
    Scene page = scene();
    if (page.scrollKey.empty() || touchStartY_ > pixelHeight_ / scale_ - kHomeEdge) return;
    double limit = std::max(0.0, page.contentHeight - page.viewHeight + 40);
    double& offset = ui_.scroll[page.scrollKey];
    // Content follows the finger: dragging up scrolls further down the list.
    offset = std::clamp(offset - (pointerY_ - previousY) / scale_, 0.0, limit);
    screen_.reset();
}

void VirtualPhone::setButton(bool down) {
    if (down == buttonDown_) return;
    buttonDown_ = down;
    if (down) {
        touchStartX_ = pointsX();
        touchStartY_ = pointsY();
        dragging_ = false;
        return;
    }
    if (!dragging_) {
        tap(pointsX(), pointsY());
    } else if (touchStartY_ > pixelHeight_ / scale_ - kHomeEdge && touchStartY_ - pointsY() > kHomeDistance) {
        goHome();
    }
}

void VirtualPhone::tap(double x, double y) {
    const Scene page = scene();
    const Widget* widget = hit(page, x, y);
    if (!widget) return;
    const std::string& action = widget->action;
    if (action.rfind("open:", 0) == 0) {
        ui_.app = action.substr(5);
        ui_.settingsPath.clear();
        ui_.notesFocused = ui_.app == "Notes";
    } else if (action.rfind("push:", 0) == 0) {
        ui_.settingsPath.push_back(action.substr(5));
    } else if (action == "back" && !ui_.settingsPath.empty()) {
        ui_.settingsPath.pop_back();
    } else if (action == "focus") {
        ui_.notesFocused = true;
    }
    screen_.reset();
}

void VirtualPhone::goHome() {
    ui_.app = "Home";
    ui_.settingsPath.clear();
    ui_.notesFocused = false;
    screen_.reset();
}

void VirtualPhone::typeUsage(uint8_t modifiers, uint8_t code) {
    // A key counts when it goes down; the report that lifts it carries no code.
    uint8_t previous = lastKey_;
    lastKey_ = code;
    if (code == 0 || code == previous || !(ui_.app == "Notes" && ui_.notesFocused)) return;
    std::string& text = ui_.notesText;
    if (code == 0x2A) {
        // Backspace removes one whole UTF-8 character.
        while (!text.empty() && (static_cast<uint8_t>(text.back()) & 0xC0) == 0x80) text.pop_back();
        if (!text.empty()) text.pop_back();
    } else {
        auto found = characters().find({code, (modifiers & (Keymap::shift | 0x20)) != 0});
        if (found == characters().end()) return;
        text += found->second;
    }
    screen_.reset();
}

Scene VirtualPhone::scene() const {
    return buildScene(ui_, pixelWidth_ / scale_, pixelHeight_ / scale_, name_, modelName_);
}

PixelBufferRef VirtualPhone::frame() {
    if (frame_) return frame_;
    if (!screen_) {
        screen_ = std::make_shared<const PixelBuffer>(
            renderScreen(scene(), pixelWidth_, pixelHeight_, scale_, setup_.assistiveTouch));
    }
    frame_ = setup_.assistiveTouch && pointerShown_ ? withPointer(*screen_, pointerX_, pointerY_, scale_) : screen_;
    return frame_;
}

JSON VirtualPhone::groundTruth() const {
    std::string page = ui_.app;
    for (const auto& pushed : ui_.settingsPath) page += " > " + pushed;
    JSON scroll = JSON::object();
    for (const auto& [key, offset] : ui_.scroll) scroll[key] = std::round(offset);
    return JSON{
        {"name", name_},
        {"screenId", screenID_},
        {"central", central_.string()},
        {"width", pixelWidth_},
        {"height", pixelHeight_},
        {"app", ui_.app},
        {"page", page},
        {"focusedText", ui_.notesFocused ? JSON(ui_.notesText) : JSON(nullptr)},
        {"notesText", ui_.notesText},
        {"pointer", pointerShown_ ? JSON{{"x", std::round(pointerX_)}, {"y", std::round(pointerY_)}} : JSON(nullptr)},
        {"buttonDown", buttonDown_},
        {"scroll", scroll},
        {"locked", setup_.locked},
        {"assistiveTouch", setup_.assistiveTouch},
        {"bluetooth", setup_.bluetooth},
        {"airplay", setup_.airplay},
    };
}

}  // namespace quintalis::simulator
