#include "app/model/try_it.h"

#include "app/model/http_get.h"
#include "app/model/unicode_text.h"
#include "imaging/codecs.h"
#include "screen/text_recognition.h"

namespace quintalis {
namespace {

constexpr auto kScreenshotTimeout = std::chrono::seconds(15);
constexpr auto kFrameTimeout = std::chrono::seconds(20);
constexpr const char* kUSB = "USB cable";
constexpr const char* kAirPlay = "AirPlay";
constexpr const char* kNoCablePicture =
    "No picture yet. Check that the iPhone is plugged in, unlocked, and that you tapped Trust.";
constexpr const char* kNoAirPlayPicture =
    "No picture yet. On your iPhone, open Control Center \u203a Screen Mirroring and choose this computer, then try again.";

}  // namespace

TryIt::TryIt(const Engine& engine, TextRecognizer& recognizer) : engine_(engine), recognizer_(recognizer) {}

TryIt::Result TryIt::look(bool preferAirPlay) const {
    // What went wrong with each source is not shown: the message speaks of
    // the one the user chose.
    auto first = preferAirPlay ? &TryIt::airplay : &TryIt::usb;
    auto second = preferAirPlay ? &TryIt::usb : &TryIt::airplay;
    for (auto attempt : {first, second}) {
        try {
            return (this->*attempt)();
        } catch (const TryError&) {
        }
    }
    throw TryError(preferAirPlay ? kNoAirPlayPicture : kNoCablePicture);
}

TryIt::Result TryIt::usb() const {
    return fetch(joinURL(engine_.baseURL(), "screenshot?maxEdge=1200"), kScreenshotTimeout, kUSB);
}

TryIt::Result TryIt::airplay() const {
    return fetch(joinURL(engine_.airplayURL(), "frame.jpg?maxEdge=1200"), kFrameTimeout, kAirPlay);
}

TryIt::Result TryIt::fetch(const std::string& url, Duration timeout, const std::string& source) const {
    auto answer = httpGet(url, timeout);
    if (!answer) throw TryError("no answer from " + url);
    if (answer->status == 200) {
        if (auto picture = decodeImage(answer->body)) {
            return result(std::make_shared<const PixelBuffer>(std::move(*picture)), source);
        }
    }
    throw TryError(repairUTF8(answer->body));
}

TryIt::Result TryIt::result(PixelBufferRef image, const std::string& source) const {
    std::vector<std::string> texts;
    for (const auto& line : recognize(recognizer_, *image)) {
        if (auto text = line.find("text"); text != line.end() && text->is_string()) texts.push_back(text->get<std::string>());
    }
    auto lines = readable(texts);
    if (lines.size() > kMaxLines) lines.resize(kMaxLines);
    std::string pixels = std::to_string(image->width()) + "\u00D7" + std::to_string(image->height());
    return {std::move(image), source, std::move(lines), std::move(pixels)};
}

std::vector<std::string> TryIt::readable(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    for (const auto& line : lines) {
        if (letterCount(line) >= 2) kept.push_back(line);
    }
    return kept;
}

}  // namespace quintalis
