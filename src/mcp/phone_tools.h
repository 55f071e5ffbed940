#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "mcp/phone_access.h"
#include "mcp/screen_text.h"
#include "mcp/tool_arguments.h"
#include "mcp/tool_box.h"
#include "screen/text_recognition.h"
#include "platform/text_recognizer.h"

namespace quintalis::mcp {

// The phone tools: phones, look, tap, swipe, type, key, home and wait. They
// check a model's arguments against the tool table, turn them into calls on
// PhoneAccess, read the screen's text, wait for the screen to settle after
// each action, and answer in sentences. Every failure is a result with
// "isError" true; a cancelled call throws Cancelled.
//
// One coordinate space per phone: every position a reply shows and every
// x/y a call takes is in pixels of the last image look sent for that phone
// (before any look, of the image a default look would send). Text is always
// read from the screen at its full resolution.
//
// Threads: calls may run at once; the last image's size and the last text
// read per phone are kept under `mutex_`. A call blocks for its round trips,
// text recognition and the settling wait.
class PhoneTools final : public ToolBox {
public:
    PhoneTools(PhoneAccess& phones, TextRecognizer& recognizer, Clock& clock);

    JSON definitions() const override;
    JSON call(const std::string& name, const JSON& arguments, CallContext& context) override;

    // How long an action waits at most for the screen to settle once its gesture is over, ms.
    static constexpr int64_t kSettleLimit = 2500;
    // How long a tool waits for a phone's first frame and connection while the engine starts.
    static constexpr Duration kStartWait = std::chrono::seconds(8);
    // Characters typed per request: progress and a cancel come between them.
    static constexpr size_t kTypeChunk = 40;
    // A long wait is asked in pieces this long, ms, with progress between them.
    static constexpr int64_t kWaitPiece = 5000;

private:
    struct Call {
        const CheckedArguments& args;
        CallContext& context;
    };
    // Where positions shown to the model live.
    struct Space {
        ImageSize size;
        std::string words;  // "the 277×600 image of your last look"
    };
    enum class Need { sight, action };

    JSON phones(Call& call);
    JSON look(Call& call);
    JSON tap(Call& call);
    JSON tapText(Call& call, const Phone& phone, const std::string& text);
    JSON swipe(Call& call);
    JSON typeText(Call& call);
    JSON key(Call& call);
    JSON home(Call& call);
    JSON wait(Call& call);

    PhoneList listWhenReady(Call& call, const std::optional<std::string>& wanted, Need need);
    Phone choose(Call& call, Need need);
    Picture lookWhenReady(const Phone& phone, std::optional<int> maxEdge, Call& call);
    void pause(Call& call);
    Space shownSpace(const Phone& phone, const ImageSize& screen);
    Space takenSpace(const Phone& phone, Call& call);
    // The screen's text in the picture's pixels; a picture that is the last
    // one read again (the engine answers an unchanged screen with the same
    // bytes) is not read again, and a changed one re-reads only its changed bands.
    std::vector<ScreenText> read(const Phone& phone, const Picture& picture);
    struct Settled {
        std::string sentence;  // to append, starting with a space; empty without a wait
        bool unchanged = false;
    };
    // Runs the action and, unless "settle" is false, waits for the screen.
    Settled act(const Phone& phone, const std::string& path, JSON body, Call& call);

    PhoneAccess& phones_;
    TextRecognizer& recognizer_;
    Clock& clock_;
    std::mutex mutex_;
    std::map<std::string, ImageSize> lastImage_;  // by phone id
    struct Reading {
        std::shared_ptr<ScreenReader> reader;
        std::string jpeg;  // the picture last read, and what it said
        std::vector<ScreenText> lines;
    };
    std::map<std::string, Reading> readings_;  // by phone id
};

}  // namespace quintalis::mcp
