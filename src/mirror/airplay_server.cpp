#include "mirror/airplay_server.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/base64.h"
#include "base/max_edge.h"
#include "screen/settle_wait.h"
#include "base/text.h"
#include "imaging/codecs.h"
#include "mirror/render_frame.h"
#include "mirror/screen_permission.h"

namespace quintalis {
namespace {

const char* const kNoWindow =
    "no AirPlay mirroring window: on the iPhone open Control Center \u203a Screen Mirroring \u203a choose this computer";

bool queryIs(const AirPlayQuery& query, const std::string& name, const std::string& value) {
    auto found = query.find(name);
    return found != query.end() && found->second == value;
}

}  // namespace

AirPlayReply AirPlayReply::json(const JSON& value, int status) {
    return AirPlayReply{status, "application/json", serializeJSON(value)};
}

AirPlayServer::AirPlayServer(CaptureBackends& backends, TextRecognizer& recognizer,
                             std::optional<uint32_t> fixedWindow, std::function<void()> quit)
    : backends_(backends),
      recognizer_(recognizer),
      fixedWindow_(fixedWindow),
      quit_(std::move(quit)),
      waits_(backends.clock, "quintalis.airplay.settle") {}

std::shared_ptr<WindowCapture> AirPlayServer::capture() {
    // The choice is made again at every request, so a receiver that appears
    // or comes back on screen takes over from whatever was captured before.
    // Only reading and replacing `cap_` happen under the lock: listing
    // windows, starting a stream and waiting for its first frame may take
    // seconds, and a window that never draws must not hold up other clients.
    const std::optional<WinInfo> window = chooseWindow();
    const auto serves = [&](const std::shared_ptr<WindowCapture>& cap) {
        return cap && cap->alive() && window && window->window.onScreen && cap->windowID() == window->window.number;
    };
    std::shared_ptr<WindowCapture> current = published();
    if (serves(current)) {
        current->checkResize();
        if (current->alive()) return current;
    }
    retire(current);
    if (auto refusal = screenCaptureRefusal(backends_)) return failed(*refusal);
    if (!window) return failed(kNoWindow);
    // An unmapped window sends no frames: saying so at once beats waiting
    // seconds for one.
    if (!window->window.onScreen) return failed(kAirPlayWindowHidden);
    auto made = std::make_shared<WindowCapture>(*window, backends_);
    try {
        made->start();
    } catch (const CaptureError& error) {
        return failed("cannot capture " + window->window.owner + " window " + std::to_string(window->window.number) +
                      ": " + error.what());
    }
    std::shared_ptr<WindowCapture> replaced;
    {
        std::lock_guard lock(mutex_);
        // Another request may have started the same window meanwhile: one
        // capture is kept, the first published.
        if (serves(cap_)) {
            replaced = std::move(made);
            made = cap_;
        } else {
            replaced = std::exchange(cap_, made);
            lastError_.reset();
        }
    }
    if (replaced) replaced->stop();
    made->waitForFrame(kFirstFrameWait);
    return made;
}

std::shared_ptr<WindowCapture> AirPlayServer::published() {
    std::lock_guard lock(mutex_);
    return cap_;
}

void AirPlayServer::retire(const std::shared_ptr<WindowCapture>& cap) {
    if (!cap) return;
    {
        std::lock_guard lock(mutex_);
        if (cap_ == cap) cap_.reset();
    }
    cap->stop();
}

std::shared_ptr<WindowCapture> AirPlayServer::failed(std::string reason) {
    std::lock_guard lock(mutex_);
    lastError_ = std::move(reason);
    return nullptr;
}

std::optional<WinInfo> AirPlayServer::chooseWindow() {
    // A fixed window that has gone gives way to the best candidate: the
    // service outlives the windows it was started for.
    if (fixedWindow_) {
        if (auto fixed = windowInfo(backends_.windows, *fixedWindow_)) return fixed;
    }
    return bestReceiver(airplayCandidates(backends_.windows.windows(), backends_.environment));
}

void AirPlayServer::resetCapture() {
    retire(published());
}

void AirPlayServer::handle(const std::string& path, const AirPlayQuery& query, const AirPlayResponder& responder) {
    if (path == "/" || path == "/status") return responder.send(status());
    if (path == "/frame" || path == "/frame.jpg" || path == "/frame.png") return responder.send(frame(path, query));
    if (path == "/wait") return wait(query, responder);
    if (path == "/changes") return responder.send(changes(query));
    if (path == "/quit") {
        if (quit_) quit_();
        return responder.send(AirPlayReply::json(JSON{{"ok", true}}));
    }
    responder.send(AirPlayReply::json(JSON{{"ok", false}, {"error", "not found"}}, 404));
}

AirPlayReply AirPlayServer::noCapture() {
    std::lock_guard lock(mutex_);
    return AirPlayReply::json(JSON{{"ok", false}, {"error", lastError_.value_or("no capture")}}, 503);
}

AirPlayReply AirPlayServer::status() {
    const auto refusal = screenCaptureRefusal(backends_);
    const bool permission = !refusal;
    JSON candidates = JSON::array();
    for (const auto& candidate : airplayCandidates(backends_.windows.windows(), backends_.environment)) {
        candidates.push_back(candidate.json());
    }
    JSON reply{{"ok", true},
               {"app", "quintalis-mirror"},
               {"version", kAirPlayVersion},
               {"pid", static_cast<int64_t>(getpid())},
               {"permission", permission},
               {"candidates", std::move(candidates)}};
    if (permission) {
        if (auto cap = capture()) {
            reply["window"] = cap->info().json();
            if (auto frame = cap->latest()) {
                const int64_t now = backends_.clock.wallMillis();
                reply["frame"] = JSON{
                    {"w", frame->buffer->width()},
                    {"h", frame->buffer->height()},
                    {"content", cap->content(frame->buffer).json()},
                    {"age_ms", now - frame->frameAt},
                    {"still_ms", frame->lastChange > 0 ? now - frame->lastChange : -1},
                    {"frames", frame->frames},
                };
            }
        }
    }
    std::lock_guard lock(mutex_);
    if (refusal) {
        reply["error"] = *refusal;
    } else if (lastError_) {
        reply["error"] = *lastError_;
    }
    return AirPlayReply::json(reply);
}

AirPlayReply AirPlayServer::frame(const std::string& path, const AirPlayQuery& query) {
    RenderOptions options;
    options.maxDim = 1280;
    if (auto item = query.find("maxEdge"); item != query.end()) {
        // Refused before any capture starts.
        auto maxEdge = maxEdgeFromText(item->second);
        if (!maxEdge) return AirPlayReply::json(JSON{{"ok", false}, {"error", kMaxEdgeRule}}, 400);
        options.maxDim = *maxEdge;
    }
    options.png = path == "/frame.png" || queryIs(query, "format", "png");
    options.crop = !queryIs(query, "crop", "0");
    options.withOCR = queryIs(query, "ocr", "1");

    auto cap = capture();
    if (!cap) return noCapture();
    cap->waitForFrame(kFrameWait);
    RenderedFrame rendered = renderFrame(*cap, options, recognizer_);
    if (rendered.result.value("ok", false) != true) return AirPlayReply::json(rendered.result, 503);
    if (path == "/frame") {
        rendered.result["image"] = base64Encoded(rendered.data);
        return AirPlayReply::json(rendered.result);
    }
    return AirPlayReply{200, pictureMime(options.png), std::move(rendered.data)};
}

void AirPlayServer::wait(const AirPlayQuery& query, const AirPlayResponder& responder) {
    auto cap = capture();
    if (!cap) return responder.send(noCapture());
    SettleWaits::Waiter waiter{
        SettleRule::fromQuery(query, backends_.clock.wallMillis()),
        [cap](int64_t since) {
            ChangeReading reading;
            reading.after = cap->changeTimes(since);
            auto latest = cap->latest();
            reading.last = latest ? latest->lastChange : 0;
            return reading;
        },
        [send = responder.send](const SettleOutcome& outcome) { send(AirPlayReply::json(outcome.json())); },
        responder.clientGone,
        responder.drop,
    };
    if (responder.waitApart) responder.waitApart();
    if (!waits_.add(std::move(waiter))) {
        responder.send(AirPlayReply::json(JSON{{"ok", false}, {"error", waits_.refusal()}}, 429));
    }
}

AirPlayReply AirPlayServer::changes(const AirPlayQuery& query) {
    auto cap = capture();
    if (!cap) return noCapture();
    // Changes come in whole milliseconds, so "after 1000.5" is "after 1000".
    double since = 0;
    if (auto found = query.find("since"); found != query.end()) since = parseNumber(found->second).value_or(0);
    since = std::clamp(std::floor(since), -9.0e18, 9.0e18);
    return AirPlayReply::json(JSON{{"ok", true},
                                   {"now", backends_.clock.wallMillis()},
                                   {"changes", cap->changeTimes(static_cast<int64_t>(since))}});
}

}  // namespace quintalis
