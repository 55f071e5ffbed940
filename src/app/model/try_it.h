#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "base/user_error.h"
#include "engine/engine.h"
#include "imaging/pixel_buffer.h"
#include "platform/text_recognizer.h"

namespace quintalis {

// One look at the phone's screen the way an AI client takes it: a picture
// from the engine's USB screenshot or from the AirPlay capture service, its
// size, and the words that can be read on it. Talks to both services over
// HTTP like any client and shares nothing else with them.
//
// Thread rule: look() blocks for up to 35 s of requests plus text
// recognition; call it off the main thread. No state; any thread.
class TryIt {
public:
    static constexpr int kMaxLines = 14;

    struct Result {
        PixelBufferRef image;
        std::string source;  // "USB cable" or "AirPlay"
        std::vector<std::string> lines;
        std::string pixels;  // "1179×2556"
        bool operator==(const Result&) const = default;
    };

    // The text shown to the user when no picture came.
    class TryError : public UserError {
    public:
        using UserError::UserError;
    };

    TryIt(const Engine& engine, TextRecognizer& recognizer);

    // Tries the preferred source first, then the other. Throws TryError
    // naming what to check for the preferred one when neither gave a picture.
    Result look(bool preferAirPlay) const;

    // The lines that hold at least two letters, in any script.
    static std::vector<std::string> readable(const std::vector<std::string>& lines);

private:
    Result usb() const;
    Result airplay() const;
    Result fetch(const std::string& url, Duration timeout, const std::string& source) const;
    Result result(PixelBufferRef image, const std::string& source) const;

    const Engine& engine_;
    TextRecognizer& recognizer_;
};

}  // namespace quintalis
