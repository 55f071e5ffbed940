#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "mcp/phone_access.h"
#include "mcp/screen_text.h"
#include "mcp/tool_box.h"
#include "mirror/text_recognition.h"
#include "platform/text_recognizer.h"

namespace quintalis::mcp {

// The phone tools: phones, look, tap, swipe, type, key, home and wait. They
// turn a model's arguments into calls on PhoneAccess, read the screen's text,
// wait for the screen to settle after each action, and answer in sentences.
// Every failure is a result with "isError" true.
//
// Threads: calls may run at once; the last look's image size and the last
// text read per phone are kept under `mutex_`. A call blocks for its round
// trips, text recognition and the settling wait.
class PhoneTools final : public ToolBox {
public:
    PhoneTools(PhoneAccess& phones, TextRecognizer& recognizer, Clock& clock);

    JSON definitions() const override;
    JSON call(const std::string& name, const JSON& arguments) override;

    // The long edge of look's image unless asked otherwise, and of the picture a tap by text reads.
    static constexpr int kDefaultEdge = 1200;
    // How long an action waits at most for the screen to settle once its gesture is over, ms.
    static constexpr int64_t kSettleLimit = 2500;

private:
    JSON phones();
    JSON look(const JSON& arguments);
    JSON tap(const JSON& arguments);
    JSON swipe(const JSON& arguments);
    JSON typeText(const JSON& arguments);
    JSON key(const JSON& arguments);
    JSON home(const JSON& arguments);
    JSON wait(const JSON& arguments);

    Phone choose(const JSON& arguments);
    // The size of the image that x/y arguments are pixels of.
    ImageSize imageFor(const Phone& phone, const JSON& arguments);
    // The screen's text; a picture that is the last one read again (the
    // engine answers an unchanged screen with the same bytes) is not read
    // again, and a changed one re-reads only its changed bands.
    std::vector<ScreenText> read(const Phone& phone, const Picture& picture);
    // Runs the action and, unless "settle" is false, waits for the screen;
    // returns what the wait found, as a sentence to append.
    std::string act(const Phone& phone, const std::string& path, JSON body, const JSON& arguments);

    PhoneAccess& phones_;
    TextRecognizer& recognizer_;
    Clock& clock_;
    std::mutex mutex_;
    std::map<std::string, ImageSize> lastLook_;  // by phone id
    struct Reading {
        std::shared_ptr<ScreenReader> reader;
        std::string jpeg;  // the picture last read, and what it said
        std::vector<ScreenText> lines;
    };
    std::map<std::string, Reading> readings_;  // by phone id
};

}  // namespace quintalis::mcp
