#include "mcp/phone_tools.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>

#include "base/base64.h"
#include "base/characters.h"
#include "base/phone_names.h"
#include "base/text.h"
#include "bluetooth/input.h"
#include "imaging/codecs.h"
#include "mcp/phone_choice.h"
#include "mcp/tool_catalog.h"
#include "mcp/tool_sentences.h"
#include "screen/text_recognition.h"

namespace quintalis::mcp {
namespace {

using namespace std::chrono_literals;

constexpr Duration kStartPoll = 100ms;

JSON textContent(const std::string& text) { return JSON{{"type", "text"}, {"text", text}}; }

JSON toolSuccess(const std::string& text) { return JSON{{"content", JSON::array({textContent(text)})}}; }

JSON toolFailure(const std::string& text) {
    return JSON{{"content", JSON::array({textContent(text)})}, {"isError", true}};
}

// Where a swipe in a direction starts and ends, as fractions of the screen.
struct Stroke {
    double x1, y1, x2, y2;
};
Stroke strokeFor(const std::string& direction) {
    if (direction == "up") return Stroke{0.5, 0.7, 0.5, 0.3};
    if (direction == "down") return Stroke{0.5, 0.3, 0.5, 0.7};
    if (direction == "left") return Stroke{0.7, 0.5, 0.3, 0.5};
    return Stroke{0.3, 0.5, 0.7, 0.5};
}

bool ready(const Phone& phone, bool action) { return phone.screen && (!action || phone.bluetooth); }

// Pieces of a text to type, at most `size` characters each, cut only
// before plain ASCII so no character is split from what combines with it.
std::vector<std::string> pieces(const std::string& text, size_t size) {
    std::vector<std::string> out;
    std::string piece;
    size_t count = 0;
    for (const auto& character : userPerceivedCharacters(text)) {
        bool plain = character.size() == 1;
        if (count >= size && plain) {
            out.push_back(std::move(piece));
            piece.clear();
            count = 0;
        }
        piece += character;
        ++count;
    }
    if (!piece.empty()) out.push_back(std::move(piece));
    return out;
}

}  // namespace

PhoneTools::PhoneTools(PhoneAccess& phones, TextRecognizer& recognizer, Clock& clock)
    : phones_(phones), recognizer_(recognizer), clock_(clock) {}

JSON PhoneTools::definitions() const {
    JSON tools = JSON::array();
    for (const auto& rule : phoneToolRules()) tools.push_back(toolDefinition(rule));
    return tools;
}

JSON PhoneTools::call(const std::string& name, const JSON& arguments, CallContext& context) {
    using Tool = JSON (PhoneTools::*)(Call&);
    static const std::map<std::string, Tool> tools{
        {"phones", &PhoneTools::phones}, {"look", &PhoneTools::look},     {"tap", &PhoneTools::tap},
        {"swipe", &PhoneTools::swipe},   {"type", &PhoneTools::typeText}, {"key", &PhoneTools::key},
        {"home", &PhoneTools::home},     {"wait", &PhoneTools::wait},
    };
    const ToolRule* rule = phoneToolRule(name);
    auto found = tools.find(name);
    if (!rule || found == tools.end()) throw UnknownTool(name);
    try {
        CheckedArguments checked(*rule, arguments);
        Call call{checked, context};
        return (this->*found->second)(call);
    } catch (const ArgumentError& error) {
        return toolFailure(error.what());
    } catch (const PhoneError& error) {
        return toolFailure(error.what());
    }
}

void PhoneTools::pause(Call& call) {
    call.context.stop.check();
    clock_.sleep(kStartPoll);
    call.context.stop.check();
}

PhoneList PhoneTools::listWhenReady(Call& call, const std::optional<std::string>& wanted, Need need) {
    // While the engine comes up, its phone is a moment from its first
    // frame and connection: saying "none" then would mislead.
    const auto deadline = clock_.now() + kStartWait;
    while (true) {
        PhoneList list = phones_.phones(call.context.stop);
        if (!phones_.starting() || clock_.now() >= deadline) return list;
        bool action = need == Need::action;
        // Only the phones the call names keep it waiting, named as choosePhone will.
        auto named = !wanted || wanted->empty()
                         ? list.phones
                         : phonesFitting(
                               list.phones, *wanted, [](const Phone& p) { return p.id; },
                               [](const Phone& p) { return p.name; });
        bool waiting = list.phones.empty() || std::any_of(named.begin(), named.end(), [&](const Phone& phone) {
                           return !ready(phone, action);
                       });
        if (!waiting) return list;
        pause(call);
    }
}

Phone PhoneTools::choose(Call& call, Need need) {
    auto wanted = call.args.text("phone");
    PhoneList list = listWhenReady(call, wanted, need);
    if (need == Need::action && list.paused) throw PhoneError(pausedSentence());
    return choosePhone(list, wanted);
}

Picture PhoneTools::lookWhenReady(const Phone& phone, std::optional<int> maxEdge, Call& call) {
    const auto deadline = clock_.now() + kStartWait;
    while (true) {
        try {
            return phones_.look(phone, maxEdge, call.context.stop);
        } catch (const NoFrameYet&) {
            if (!phones_.starting() || clock_.now() >= deadline) throw;
        }
        pause(call);
    }
}

JSON PhoneTools::phones(Call& call) {
    PhoneList list = listWhenReady(call, std::nullopt, Need::action);
    return toolSuccess(phonesSentence(list));
}

std::vector<ScreenText> PhoneTools::read(const Phone& phone, const Picture& picture) {
    std::shared_ptr<ScreenReader> reader;
    {
        std::lock_guard lock(mutex_);
        Reading& reading = readings_[phone.id];
        if (!reading.jpeg.empty() && reading.jpeg == picture.jpeg) return reading.lines;
        if (!reading.reader) reading.reader = std::make_shared<ScreenReader>(recognizer_);
        reader = reading.reader;
    }
    auto decoded = decodeImage(picture.jpeg);
    if (!decoded) throw PhoneError("The screenshot could not be read: try look again.");
    // Read outside the lock: another phone's look need not wait for this one.
    auto lines = screenTexts(reader->read(*decoded));
    std::lock_guard lock(mutex_);
    readings_[phone.id] = Reading{reader, picture.jpeg, lines};
    return lines;
}

PhoneTools::Space PhoneTools::shownSpace(const Phone& phone, const ImageSize& screen) {
    std::lock_guard lock(mutex_);
    auto found = lastImage_.find(phone.id);
    if (found != lastImage_.end()) return Space{found->second, "the " + sizeText(found->second) + " image of your last look"};
    ImageSize size = imageSize(screen.width, screen.height, std::nullopt, kDefaultEdge);
    return Space{size, "the " + sizeText(size) + " image look sends"};
}

PhoneTools::Space PhoneTools::takenSpace(const Phone& phone, Call& call) {
    auto width = call.args.number("imageWidth");
    auto height = call.args.number("imageHeight");
    if (width || height) {
        if (!width || !height) throw ArgumentError("Give imageWidth and imageHeight together, or neither.");
        ImageSize size{static_cast<int>(std::lround(*width)), static_cast<int>(std::lround(*height))};
        return Space{size, "the " + sizeText(size) + " image you named"};
    }
    std::lock_guard lock(mutex_);
    auto found = lastImage_.find(phone.id);
    if (found == lastImage_.end()) {
        throw PhoneError("Call look first: x and y are pixels of the image it returns (or give imageWidth and "
                         "imageHeight with them).");
    }
    return Space{found->second, "the " + sizeText(found->second) + " image of your last look"};
}

JSON PhoneTools::look(Call& call) {
    Phone phone = choose(call, Need::sight);
    int edge = static_cast<int>(call.args.number("maxEdge").value_or(kDefaultEdge));
    Picture picture = lookWhenReady(phone, edge, call);
    std::string text = lookSentence(phone, picture);
    if (call.args.flag("text")) {
        // A small image reads badly: read the screen itself, show its text in this image's pixels.
        bool whole = picture.image.width == picture.screen.width && picture.image.height == picture.screen.height;
        Picture full = whole ? picture : lookWhenReady(phone, std::nullopt, call);
        auto lines = inSpace(read(phone, full), full.image, picture.image);
        text += lines.empty() ? "\nNo text was recognised on the screen."
                              : "\nText on the screen, with the centre of each line:\n" + listing(lines);
    }
    {
        std::lock_guard lock(mutex_);
        lastImage_[phone.id] = picture.image;
    }
    JSON image{{"type", "image"}, {"data", base64Encoded(picture.jpeg)}, {"mimeType", "image/jpeg"}};
    return JSON{{"content", JSON::array({std::move(image), textContent(text)})}};
}

JSON PhoneTools::tap(Call& call) {
    auto text = call.args.text("text");
    auto x = call.args.number("x");
    auto y = call.args.number("y");
    if (text && (x || y)) throw ArgumentError("Give either text or x and y, not both.");
    if (!text && (!x || !y)) throw ArgumentError("Give x and y (pixels of the image from look), or text to tap.");
    Phone phone = choose(call, Need::action);
    if (text) return tapText(call, phone, *text);
    Space space = takenSpace(phone, call);
    if (*x > space.size.width || *y > space.size.height) {
        throw ArgumentError("x and y must lie inside " + space.words + ".");
    }
    JSON body{{"x", *x / space.size.width}, {"y", *y / space.size.height}};
    if (auto hold = call.args.number("hold")) body["hold"] = *hold;
    auto settled = act(phone, "/tap", std::move(body), call);
    return toolSuccess("Tapped at " + pointText(*x, *y) + " in " + space.words + "." + settled.sentence +
                   (settled.unchanged ? tapChangedNothing() : ""));
}

JSON PhoneTools::tapText(Call& call, const Phone& phone, const std::string& text) {
    Picture full = lookWhenReady(phone, std::nullopt, call);
    auto lines = read(phone, full);
    auto matches = linesReading(lines, text);
    if (matches.empty()) {
        // The pointer may be lying on the text: move it to its resting place and read again.
        try {
            phones_.act(phone, "/move", JSON{{"rest", true}}, call.context.stop);
            full = lookWhenReady(phone, std::nullopt, call);
            lines = read(phone, full);
            matches = linesReading(lines, text);
        } catch (const PhoneError&) {
            // An engine that cannot move it answers the first reading's way.
        }
    }
    Space space = shownSpace(phone, full.screen);
    if (matches.size() != 1) {
        throw PhoneError(missedText(text, inSpace(lines, full.image, space.size),
                                    inSpace(matches, full.image, space.size), space.words));
    }
    const ScreenText& target = matches.front();
    JSON body{{"x", static_cast<double>(target.x) / full.image.width},
              {"y", static_cast<double>(target.y) / full.image.height}};
    if (auto hold = call.args.number("hold")) body["hold"] = *hold;
    auto settled = act(phone, "/tap", std::move(body), call);
    ScreenText shown = inSpace({target}, full.image, space.size).front();
    return toolSuccess("Tapped " + inQuotes(target.text) + " at " + pointText(shown.x, shown.y) + " in " + space.words +
                   "." + settled.sentence + (settled.unchanged ? tapChangedNothing() : ""));
}

JSON PhoneTools::swipe(Call& call) {
    auto direction = call.args.text("direction");
    const char* points[] = {"x1", "y1", "x2", "y2"};
    std::optional<double> values[4];
    int given = 0;
    for (int i = 0; i < 4; ++i) given += (values[i] = call.args.number(points[i])).has_value();
    if (direction && given > 0) throw ArgumentError("Give either direction or x1, y1, x2 and y2, not both.");
    if (!direction && given < 4) throw ArgumentError("Give x1, y1, x2 and y2 (pixels of the image from look), or a direction.");
    Phone phone = choose(call, Need::action);
    JSON body = JSON::object();
    if (auto duration = call.args.number("duration")) body["duration"] = *duration;
    std::string done;
    if (direction) {
        Stroke stroke = strokeFor(*direction);
        body.update(JSON{{"x1", stroke.x1}, {"y1", stroke.y1}, {"x2", stroke.x2}, {"y2", stroke.y2}});
        done = "Swiped " + *direction + " through the middle of the screen.";
    } else {
        Space space = takenSpace(phone, call);
        for (int i = 0; i < 4; ++i) {
            double side = i % 2 == 0 ? space.size.width : space.size.height;
            if (*values[i] > side) throw ArgumentError("x1, y1, x2 and y2 must lie inside " + space.words + ".");
            body[points[i]] = *values[i] / side;
        }
        done = "Swiped from " + pointText(*values[0], *values[1]) + " to " + pointText(*values[2], *values[3]) +
               " in " + space.words + ".";
    }
    auto settled = act(phone, "/swipe", std::move(body), call);
    return toolSuccess(done + settled.sentence + (settled.unchanged ? tapChangedNothing() : ""));
}

JSON PhoneTools::typeText(Call& call) {
    std::string text = *call.args.text("text");
    // The engine's own limit, said before anything is typed; megabytes
    // would otherwise be counted, split and typed for hours.
    if (auto tooLong = typedTextTooLong(text)) throw PhoneError(*tooLong);
    try {
        // Refuse what a US keyboard cannot type, or what would keep a
        // client that asked for no progress waiting past its time-out,
        // before typing any of it.
        double seconds = Input::typingSeconds(Input::strokesFor(text));
        if (!call.context.progressAsked && seconds > kLongestSilentTyping) {
            throw PhoneError(typingTooLongWithoutProgress(seconds));
        }
    } catch (const Input::InputError& error) {
        throw PhoneError(error.what());
    }
    Phone phone = choose(call, Need::action);
    auto parts = pieces(text, kTypeChunk);
    const double total = static_cast<double>(userPerceivedCharacters(text).size());
    double typed = 0;
    Settled settled;
    for (size_t i = 0; i < parts.size(); ++i) {
        bool last = i + 1 == parts.size();
        if (last) {
            settled = act(phone, "/type", JSON{{"text", parts[i]}}, call);
        } else {
            phones_.act(phone, "/type", JSON{{"text", parts[i]}}, call.context.stop);
        }
        typed += static_cast<double>(userPerceivedCharacters(parts[i]).size());
        call.context.progress(typed, total, "typed " + numberText(typed) + " of " + numberText(total) + " characters");
    }
    return toolSuccess("Typed " + inQuotes(text) + "." + settled.sentence);
}

JSON PhoneTools::key(Call& call) {
    std::string name = *call.args.text("key");
    auto modifiers = call.args.names("modifiers");
    if (name.empty()) throw ArgumentError("key is required: a key name such as return, or one character");
    Phone phone = choose(call, Need::action);
    std::string chord;
    for (const auto& modifier : modifiers) chord += modifier + "+";
    auto settled = act(phone, "/key", JSON{{"key", name}, {"modifiers", modifiers}}, call);
    return toolSuccess("Pressed " + chord + name + "." + shiftNote(name, modifiers) + settled.sentence);
}

JSON PhoneTools::home(Call& call) {
    Phone phone = choose(call, Need::action);
    return toolSuccess("Pressed Home." + act(phone, "/home", JSON::object(), call).sentence);
}

JSON PhoneTools::wait(Call& call) {
    Phone phone = choose(call, Need::sight);
    SettleRule rule;
    rule.since = clock_.wallMillis();
    if (auto quiet = call.args.number("quiet")) rule.quiet = std::llround(*quiet);
    if (auto first = call.args.number("first")) rule.first = std::llround(*first);
    if (auto max = call.args.number("max")) rule.max = std::llround(*max);
    const int64_t limit = rule.max;
    // In pieces, so a long wait tells its client it is alive.
    for (int pieces = 1;; ++pieces) {
        SettleRule piece = rule;
        piece.max = std::min(limit, clock_.wallMillis() - rule.since + kWaitPiece);
        JSON reply = phones_.waitToSettle(phone, piece, call.context.stop);
        auto settledMember = reply.find("settled");
        bool settled = settledMember != reply.end() && settledMember->is_boolean() && settledMember->get<bool>();
        int64_t elapsed = clock_.wallMillis() - rule.since;
        if (settled || piece.max >= limit || elapsed >= limit) {
            if (pieces > 1) reply["waited_ms"] = elapsed;
            return toolSuccess(settleSentence(reply, false));
        }
        call.context.progress(static_cast<double>(elapsed), static_cast<double>(limit), "the screen is still changing");
    }
}

PhoneTools::Settled PhoneTools::act(const Phone& phone, const std::string& path, JSON body, Call& call) {
    bool settle = call.args.flag("settle");
    int64_t since = clock_.wallMillis();
    phones_.act(phone, path, std::move(body), call.context.stop);
    if (!settle) return {};
    SettleRule rule;
    rule.since = since;
    rule.max = clock_.wallMillis() - since + kSettleLimit;
    try {
        JSON reply = phones_.waitToSettle(phone, rule, call.context.stop);
        auto changes = reply.find("changes");
        bool unchanged = changes != reply.end() && changes->is_number() && changes->get<double>() == 0;
        return {" " + settleSentence(reply, true), unchanged};
    } catch (const PhoneError& error) {
        return {std::string(" The screen could not be watched afterwards: ") + error.what(), false};
    }
}

}  // namespace quintalis::mcp
