#include "mcp/phone_tools.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>

#include "base/base64.h"
#include "base/text.h"
#include "imaging/codecs.h"
#include "mcp/tool_catalog.h"
#include "mirror/text_recognition.h"

namespace quintalis::mcp {
namespace {

JSON textContent(const std::string& text) { return JSON{{"type", "text"}, {"text", text}}; }

JSON success(const std::string& text) { return JSON{{"content", JSON::array({textContent(text)})}}; }

JSON failure(const std::string& text) {
    return JSON{{"content", JSON::array({textContent(text)})}, {"isError", true}};
}

std::string sizeText(const ImageSize& size) { return std::to_string(size.width) + "×" + std::to_string(size.height); }

// Arguments as a model sends them: absent, or of the type the schema says.
std::optional<double> number(const JSON& arguments, const char* key) {
    auto found = arguments.find(key);
    if (found == arguments.end() || found->is_null()) return std::nullopt;
    if (!found->is_number()) throw PhoneError(std::string(key) + " must be a number");
    return found->get<double>();
}

std::optional<double> numberWithin(const JSON& arguments, const char* key, double low, double high, const char* unit) {
    auto value = number(arguments, key);
    if (value && (*value < low || *value > high)) {
        auto format = [](double v) {
            std::string text = std::to_string(v);
            text.erase(text.find_last_not_of('0') + 1);
            if (text.back() == '.') text.pop_back();
            return text;
        };
        throw PhoneError(std::string(key) + " must be from " + format(low) + " to " + format(high) + " " + unit);
    }
    return value;
}

std::optional<std::string> string(const JSON& arguments, const char* key) {
    auto found = arguments.find(key);
    if (found == arguments.end() || found->is_null()) return std::nullopt;
    if (!found->is_string()) throw PhoneError(std::string(key) + " must be a string");
    return found->get<std::string>();
}

bool flag(const JSON& arguments, const char* key, bool fallback) {
    auto found = arguments.find(key);
    if (found == arguments.end() || found->is_null()) return fallback;
    if (!found->is_boolean()) throw PhoneError(std::string(key) + " must be true or false");
    return found->get<bool>();
}

int64_t whole(const JSON& reply, const char* key) {
    auto found = reply.find(key);
    return found != reply.end() && found->is_number() ? static_cast<int64_t>(found->get<double>()) : 0;
}

std::string pointText(double x, double y) {
    return "(" + std::to_string(std::lround(x)) + ", " + std::to_string(std::lround(y)) + ")";
}

std::string describe(const Phone& phone) {
    std::string text = phone.name + " (phone " + inQuotes(phone.id) + "): seen over " +
                       (phone.seen == Phone::Seen::usb ? "USB" : "AirPlay");
    if (phone.screen) text += ", screen " + sizeText(*phone.screen) + " px";
    text += phone.bluetooth ? ", Bluetooth connected" : ", no Bluetooth connection (it can be seen, not operated)";
    return text;
}

std::string described(const std::vector<Phone>& phones) {
    std::string text;
    for (const auto& phone : phones) text += "\n- " + describe(phone);
    return text;
}

std::string noPhone(const PhoneList& list) {
    std::string text = "No phone is connected. Open Quintalis and finish its setup.";
    for (const auto& problem : list.problems) text += "\n" + problem;
    return text;
}

// Where a swipe in a direction starts and ends, as fractions of the screen.
struct Stroke {
    double x1, y1, x2, y2;
};
std::optional<Stroke> strokeFor(const std::string& direction) {
    if (direction == "up") return Stroke{0.5, 0.7, 0.5, 0.3};
    if (direction == "down") return Stroke{0.5, 0.3, 0.5, 0.7};
    if (direction == "left") return Stroke{0.7, 0.5, 0.3, 0.5};
    if (direction == "right") return Stroke{0.3, 0.5, 0.7, 0.5};
    return std::nullopt;
}

// What a settle wait's reply says, after an action or on its own.
std::string settleSentence(const JSON& reply, bool afterAction) {
    int64_t waited = whole(reply, "waited_ms");
    int64_t changes = whole(reply, "changes");
    std::string counted = " (" + std::to_string(changes) + (changes == 1 ? " change)." : " changes).");
    auto found = reply.find("settled");
    bool settled = found != reply.end() && found->is_boolean() && found->get<bool>();
    if (settled && changes == 0) {
        return "The screen did not change in " + std::to_string(whole(reply, "since_ms")) + " ms.";
    }
    std::string when = afterAction ? std::to_string(waited) + " ms after the gesture"
                                   : "after " + std::to_string(waited) + " ms";
    if (settled) return "The screen settled " + when + counted;
    return "The screen was still changing " + when + counted + " Call wait or look to see how it ends.";
}

}  // namespace

PhoneTools::PhoneTools(PhoneAccess& phones, TextRecognizer& recognizer, Clock& clock)
    : phones_(phones), recognizer_(recognizer), clock_(clock) {}

JSON PhoneTools::definitions() const { return phoneToolDefinitions(); }

JSON PhoneTools::call(const std::string& name, const JSON& arguments) {
    using Tool = JSON (PhoneTools::*)(const JSON&);
    static const std::map<std::string, Tool> tools{
        {"look", &PhoneTools::look}, {"tap", &PhoneTools::tap},   {"swipe", &PhoneTools::swipe},
        {"type", &PhoneTools::typeText}, {"key", &PhoneTools::key}, {"home", &PhoneTools::home},
        {"wait", &PhoneTools::wait},
    };
    try {
        if (name == "phones") return phones();
        auto found = tools.find(name);
        if (found == tools.end()) throw UnknownTool(name);
        return (this->*found->second)(arguments);
    } catch (const PhoneError& error) {
        return failure(error.what());
    }
}

JSON PhoneTools::phones() {
    PhoneList list = phones_.phones();
    if (list.phones.empty()) return success(noPhone(list));
    std::string text = std::to_string(list.phones.size()) + (list.phones.size() == 1 ? " phone:" : " phones:") +
                       described(list.phones);
    text += list.paused ? "\nControl is paused by the owner in the Quintalis menu: phones can be looked at, and "
                          "actions are refused until the owner turns it back on."
                        : "\nControl is on.";
    for (const auto& problem : list.problems) text += "\n" + problem;
    return success(text);
}

Phone PhoneTools::choose(const JSON& arguments) {
    auto wanted = string(arguments, "phone");
    PhoneList list = phones_.phones();
    if (list.phones.empty()) throw PhoneError(noPhone(list));
    if (!wanted || wanted->empty()) {
        if (list.phones.size() == 1) return list.phones.front();
        throw PhoneError(std::to_string(list.phones.size()) + " phones are connected; pass phone with one of their ids:" +
                         described(list.phones));
    }
    const auto& phones = list.phones;
    // An id is unique; a name or the start of an id may fit several phones,
    // and acting on the first of them could drive a phone the agent does not mean.
    auto fitting = [&](auto matches) {
        std::vector<Phone> found;
        std::copy_if(phones.begin(), phones.end(), std::back_inserter(found), matches);
        return found;
    };
    auto found = fitting([&](const Phone& p) { return equalsIgnoringCase(p.id, *wanted); });
    if (found.empty()) found = fitting([&](const Phone& p) { return equalsIgnoringCase(p.name, *wanted); });
    if (found.empty()) {
        found = fitting([&](const Phone& p) {
            return p.id.size() >= wanted->size() && equalsIgnoringCase(p.id.substr(0, wanted->size()), *wanted);
        });
    }
    if (found.empty()) throw PhoneError("No phone matches " + inQuotes(*wanted) + ". Connected:" + described(phones));
    if (found.size() > 1) {
        throw PhoneError(inQuotes(*wanted) + " fits " + std::to_string(found.size()) +
                         " phones; pass phone with the whole id of one:" + described(found));
    }
    return found.front();
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

JSON PhoneTools::look(const JSON& arguments) {
    Phone phone = choose(arguments);
    auto edge = numberWithin(arguments, "maxEdge", 64, 4096, "pixels");
    bool withText = flag(arguments, "text", true);
    Picture picture = phones_.look(phone, edge ? static_cast<int>(*edge) : kDefaultEdge);
    {
        std::lock_guard lock(mutex_);
        lastLook_[phone.id] = picture.image;
    }
    std::string text = phone.name + " over " + (phone.seen == Phone::Seen::usb ? "USB" : "AirPlay") + ": screen " +
                       sizeText(picture.screen) + " px, this image " + sizeText(picture.image) +
                       " px. Tap and swipe coordinates are pixels of this image, x from the left, y from the top.";
    if (withText) {
        auto lines = read(phone, picture);
        text += lines.empty() ? "\nNo text was recognised on the screen."
                              : "\nText on the screen, with the centre of each line:\n" + listing(lines);
    }
    JSON image{{"type", "image"}, {"data", base64Encoded(picture.jpeg)}, {"mimeType", "image/jpeg"}};
    return JSON{{"content", JSON::array({std::move(image), textContent(text)})}};
}

ImageSize PhoneTools::imageFor(const Phone& phone, const JSON& arguments) {
    auto width = number(arguments, "imageWidth");
    auto height = number(arguments, "imageHeight");
    if (width || height) {
        if (!width || !height || *width <= 0 || *height <= 0) {
            throw PhoneError("imageWidth and imageHeight must be given together, as positive pixels");
        }
        return ImageSize{static_cast<int>(std::lround(*width)), static_cast<int>(std::lround(*height))};
    }
    std::lock_guard lock(mutex_);
    auto found = lastLook_.find(phone.id);
    if (found == lastLook_.end()) {
        throw PhoneError("Call look first: x and y are pixels of the image it returns (or give imageWidth and "
                         "imageHeight with them).");
    }
    return found->second;
}

JSON PhoneTools::tap(const JSON& arguments) {
    Phone phone = choose(arguments);
    auto text = string(arguments, "text");
    auto x = number(arguments, "x");
    auto y = number(arguments, "y");
    auto hold = numberWithin(arguments, "hold", 0, 10, "seconds");
    JSON body = JSON::object();
    if (hold) body["hold"] = *hold;
    std::string done;
    if (text) {
        if (x || y) throw PhoneError("Give either text or x and y, not both.");
        Picture picture = phones_.look(phone, kDefaultEdge);
        auto lines = read(phone, picture);
        auto matches = linesReading(lines, *text);
        if (matches.empty()) {
            throw PhoneError(lines.empty() ? "No text on the screen reads " + inQuotes(*text) +
                                                 "; no text was recognised at all. Call look to see the screen."
                                           : "No text on the screen reads " + inQuotes(*text) + ". Visible text, in a " +
                                                 sizeText(picture.image) + " picture:\n" + listing(lines));
        }
        if (matches.size() > 1) {
            throw PhoneError(inQuotes(*text) + " is on the screen " + std::to_string(matches.size()) + " times, in a " +
                             sizeText(picture.image) + " picture:\n" + listing(matches) +
                             "Tap one of them by its x and y instead.");
        }
        const ScreenText& target = matches.front();
        body["x"] = static_cast<double>(target.x) / picture.image.width;
        body["y"] = static_cast<double>(target.y) / picture.image.height;
        done = "Tapped " + inQuotes(target.text) + " at " + pointText(target.x, target.y) + " of a " +
               sizeText(picture.image) + " picture.";
    } else {
        if (!x || !y) throw PhoneError("Give x and y (pixels of the image from look), or text to tap.");
        ImageSize image = imageFor(phone, arguments);
        if (*x < 0 || *y < 0 || *x > image.width || *y > image.height) {
            throw PhoneError("x and y must lie inside the " + sizeText(image) + " image.");
        }
        body["x"] = *x / image.width;
        body["y"] = *y / image.height;
        done = "Tapped at " + pointText(*x, *y) + " of the " + sizeText(image) + " image.";
    }
    return success(done + act(phone, "/tap", std::move(body), arguments));
}

JSON PhoneTools::swipe(const JSON& arguments) {
    Phone phone = choose(arguments);
    auto direction = string(arguments, "direction");
    auto duration = numberWithin(arguments, "duration", 0.05, 10, "seconds");
    JSON body = JSON::object();
    if (duration) body["duration"] = *duration;
    std::string done;
    const char* points[] = {"x1", "y1", "x2", "y2"};
    if (direction) {
        for (const char* key : points) {
            if (arguments.contains(key)) throw PhoneError("Give either direction or x1, y1, x2 and y2, not both.");
        }
        auto stroke = strokeFor(*direction);
        if (!stroke) throw PhoneError("direction must be up, down, left or right");
        body.update(JSON{{"x1", stroke->x1}, {"y1", stroke->y1}, {"x2", stroke->x2}, {"y2", stroke->y2}});
        done = "Swiped " + *direction + " through the middle of the screen.";
    } else {
        std::optional<double> values[4];
        for (int i = 0; i < 4; ++i) values[i] = number(arguments, points[i]);
        for (const auto& value : values) {
            if (!value) throw PhoneError("Give x1, y1, x2 and y2 (pixels of the image from look), or a direction.");
        }
        ImageSize image = imageFor(phone, arguments);
        for (int i = 0; i < 4; ++i) {
            double side = i % 2 == 0 ? image.width : image.height;
            if (*values[i] < 0 || *values[i] > side) {
                throw PhoneError("x1, y1, x2 and y2 must lie inside the " + sizeText(image) + " image.");
            }
            body[points[i]] = *values[i] / side;
        }
        done = "Swiped from " + pointText(*values[0], *values[1]) + " to " + pointText(*values[2], *values[3]) +
               " of the " + sizeText(image) + " image.";
    }
    return success(done + act(phone, "/swipe", std::move(body), arguments));
}

JSON PhoneTools::typeText(const JSON& arguments) {
    auto text = string(arguments, "text");
    if (!text) throw PhoneError("text is required: the text to type");
    Phone phone = choose(arguments);
    std::string done = "Typed " + inQuotes(*text) + ".";
    return success(done + act(phone, "/type", JSON{{"text", *text}}, arguments));
}

JSON PhoneTools::key(const JSON& arguments) {
    auto name = string(arguments, "key");
    if (!name || name->empty()) throw PhoneError("key is required: a key name such as return, or one character");
    JSON modifiers = JSON::array();
    if (auto found = arguments.find("modifiers"); found != arguments.end() && !found->is_null()) {
        if (!found->is_array()) throw PhoneError("modifiers must be a list such as [\"cmd\"]");
        for (const auto& modifier : *found) {
            if (!modifier.is_string()) throw PhoneError("modifiers must be a list such as [\"cmd\"]");
            modifiers.push_back(modifier);
        }
    }
    Phone phone = choose(arguments);
    std::string chord;
    for (const auto& modifier : modifiers) chord += modifier.get<std::string>() + "+";
    std::string done = "Pressed " + chord + *name + ".";
    return success(done + act(phone, "/key", JSON{{"key", *name}, {"modifiers", modifiers}}, arguments));
}

JSON PhoneTools::home(const JSON& arguments) {
    Phone phone = choose(arguments);
    return success("Pressed Home." + act(phone, "/home", JSON::object(), arguments));
}

JSON PhoneTools::wait(const JSON& arguments) {
    Phone phone = choose(arguments);
    SettleRule rule;
    rule.since = clock_.wallMillis();
    if (auto quiet = numberWithin(arguments, "quiet", 0, SettleRule::kLongest, "ms")) rule.quiet = std::lround(*quiet);
    if (auto first = numberWithin(arguments, "first", 0, SettleRule::kLongest, "ms")) rule.first = std::lround(*first);
    if (auto max = numberWithin(arguments, "max", 0, SettleRule::kLongest, "ms")) rule.max = std::lround(*max);
    return success(settleSentence(phones_.waitToSettle(phone, rule), false));
}

std::string PhoneTools::act(const Phone& phone, const std::string& path, JSON body, const JSON& arguments) {
    bool settle = flag(arguments, "settle", true);
    int64_t since = clock_.wallMillis();
    phones_.act(phone, path, std::move(body));
    if (!settle) return "";
    SettleRule rule;
    rule.since = since;
    rule.max = clock_.wallMillis() - since + kSettleLimit;
    try {
        return " " + settleSentence(phones_.waitToSettle(phone, rule), true);
    } catch (const PhoneError& error) {
        return std::string(" The screen could not be watched afterwards: ") + error.what();
    }
}

}  // namespace quintalis::mcp
