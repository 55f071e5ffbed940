#include "mcp/tool_sentences.h"

#include <algorithm>
#include <cmath>

#include "bluetooth/input.h"
#include "bluetooth/keymap.h"
#include "mcp/tool_arguments.h"
#include "mcp/tool_catalog.h"

namespace quintalis::mcp {
namespace {

int64_t whole(const JSON& reply, const char* key) {
    auto found = reply.find(key);
    return found != reply.end() && found->is_number() ? static_cast<int64_t>(found->get<double>()) : 0;
}

std::string describe(const Phone& phone) {
    std::string text = phone.name + " (phone " + inQuotes(phone.id) + "): seen over " +
                       (phone.seen == Phone::Seen::usb ? "USB" : "AirPlay");
    if (phone.screen) text += ", screen " + sizeText(*phone.screen) + " px";
    text += phone.bluetooth ? ", Bluetooth connected" : ", no Bluetooth connection (it can be seen, not operated)";
    return text;
}

}  // namespace

std::string sizeText(const ImageSize& size) { return std::to_string(size.width) + "×" + std::to_string(size.height); }

std::string pointText(double x, double y) {
    return "(" + std::to_string(std::lround(x)) + ", " + std::to_string(std::lround(y)) + ")";
}

std::string described(const std::vector<Phone>& phones) {
    std::string text;
    for (const auto& phone : phones) text += "\n- " + describe(phone);
    return text;
}

std::string noPhoneSentence(const PhoneList& list) {
    std::string text = "No phone is connected. Open Quintalis and finish its setup.";
    for (const auto& problem : list.problems) text += "\n" + problem;
    return text;
}

std::string pausedSentence() {
    return "Control is paused by the owner in the Quintalis menu: actions are refused until the owner turns it back "
           "on. look still works.";
}

std::string phonesSentence(const PhoneList& list) {
    if (list.phones.empty()) return noPhoneSentence(list);
    std::string text = std::to_string(list.phones.size()) + (list.phones.size() == 1 ? " phone:" : " phones:") +
                       described(list.phones);
    text += list.paused ? "\nControl is paused by the owner in the Quintalis menu: phones can be looked at, and "
                          "actions are refused until the owner turns it back on."
                        : "\nControl is on.";
    for (const auto& problem : list.problems) text += "\n" + problem;
    return text;
}

std::string lookSentence(const Phone& phone, const Picture& picture) {
    return phone.name + " over " + (phone.seen == Phone::Seen::usb ? "USB" : "AirPlay") + ": screen " +
           sizeText(picture.screen) + " px, this image " + sizeText(picture.image) +
           " px. Tap and swipe coordinates are pixels of this image, x from the left, y from the top.";
}

std::string missedText(const std::string& query, const std::vector<ScreenText>& lines,
                       const std::vector<ScreenText>& matches, const std::string& spaceWords) {
    if (matches.size() > 1) {
        return inQuotes(query) + " is on the screen " + std::to_string(matches.size()) + " times, in " + spaceWords +
               ":\n" + listing(matches) + "Tap one of them by its x and y instead.";
    }
    if (lines.empty()) {
        return "No text on the screen reads " + inQuotes(query) +
               "; no text was recognised at all. Call look to see the screen.";
    }
    return "No text on the screen reads " + inQuotes(query) + ". Visible text, in " + spaceWords + ":\n" +
           listing(lines);
}

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

std::string silentTypingLimit() {
    // Rounded down to tens, so a model that counts is never refused.
    auto characters = [](const char* sample) {
        double each = Input::typingSeconds(Input::strokesFor(sample));
        return numberText(std::floor(kLongestSilentTyping / each / 10) * 10);
    };
    return "about " + numberText(kLongestSilentTyping) + " s of typing, some " + characters("a") + " letters or " +
           characters("A") + " capitals and symbols";
}

std::string typingTooLongWithoutProgress(double seconds) {
    // To the millisecond first, so that sums of pauses do not round 180 s up to 181.
    const double whole = std::ceil(std::round(seconds * 1000) / 1000);
    return "Typing this text takes about " + numberText(whole) + " s, and a call without a "
           "progressToken may type at most " + silentTypingLimit() + ": clients give up on a call that reports "
           "nothing for a minute. Nothing was typed. Type the text in several calls, or call with a progressToken.";
}

std::string tapChangedNothing() {
    return " Not even the pointer moved: AssistiveTouch may be off on the iPhone, and without it taps do nothing. "
           "Ask the owner to turn it on in Settings › Accessibility › Touch › AssistiveTouch.";
}

std::string shiftNote(const std::string& key, const std::vector<std::string>& modifiers) {
    if (std::find(modifiers.begin(), modifiers.end(), "shift") != modifiers.end()) return "";
    auto stroke = Keymap::stroke(key);
    if (!stroke || (stroke->modifiers & Keymap::shift) == 0) return "";
    return " key presses a character's key without Shift, so this was not " + inQuotes(key) +
           ": pass modifiers [\"shift\"] for it, or use type.";
}

}  // namespace quintalis::mcp
