#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/json.h"
#include "screen/settle_waits.h"
#include "mirror/window_capture.h"
#include "platform/text_recognizer.h"

namespace quintalis {

// The capture service's version, reported by its status route.
inline constexpr const char* kAirPlayVersion = "1";

// One answer of the capture service: status, content type and body.
struct AirPlayReply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;

    static AirPlayReply json(const JSON& value, int status = 200);
};

using AirPlayQuery = std::map<std::string, std::string>;

// The way back to the client of one request. `send` may be called later and
// from another thread; the first of `send` and `drop` settles the request.
struct AirPlayResponder {
    std::function<void(AirPlayReply)> send;
    std::function<void()> drop;  // for a client that has gone: no answer
    std::function<bool()> clientGone;
    std::function<void()> waitApart;  // the request waits long, under its own budget
};
using AirPlayHandler =
    std::function<void(const std::string& path, const AirPlayQuery& query, const AirPlayResponder& responder)>;

// The AirPlay capture service: which window to capture, one capture kept
// alive, and every route of the service. Requests come from many threads at
// once. One lock guards the current capture and the last error, and is held
// only to read or replace them: choosing a window, starting a capture and
// waiting for its first frame run outside it, so a window that sends no
// frames holds up no other request. Rendering and reading change times run
// on the capture's own lock. A
// "/wait" holds no thread: it is answered from "quintalis.airplay.settle",
// at most SettleWaits::kDefaultBudget at once (429 beyond), so waiting
// clients hold up nobody else.
class AirPlayServer {
public:
    // `fixedWindow` is captured first while it exists; `quit` is what
    // "/quit" does after answering (the stand-alone service ends itself).
    AirPlayServer(CaptureBackends& backends, TextRecognizer& recognizer, std::optional<uint32_t> fixedWindow,
                  std::function<void()> quit = {});

    // The live capture of the window to capture now (a fixed window, else
    // the best receiver on screen), replacing one of another window or one
    // that died; nothing when no window can be captured (lastError says why).
    std::shared_ptr<WindowCapture> capture();
    // Stops and drops the current capture; the next request starts another.
    void resetCapture();

    // Every route answers at once but "/wait", which answers when the
    // picture has settled.
    void handle(const std::string& path, const AirPlayQuery& query, const AirPlayResponder& responder);

    // How long the first frame of a new capture is waited for.
    static constexpr Duration kFirstFrameWait = std::chrono::seconds(3);
    // How long a frame request waits for a capture's first frame.
    static constexpr Duration kFrameWait = std::chrono::seconds(2);

private:
    AirPlayReply status();
    AirPlayReply frame(const std::string& path, const AirPlayQuery& query);
    void wait(const AirPlayQuery& query, const AirPlayResponder& responder);
    AirPlayReply changes(const AirPlayQuery& query);
    AirPlayReply noCapture();
    // The fixed window while it exists, else the best receiver.
    std::optional<WinInfo> chooseWindow();
    // The capture now published; under mutex_ for the moment of reading.
    std::shared_ptr<WindowCapture> published();
    // Unpublishes `cap` if it is still the current capture, and stops it.
    void retire(const std::shared_ptr<WindowCapture>& cap);
    // Records why there is no capture; always nothing.
    std::shared_ptr<WindowCapture> failed(std::string reason);

    CaptureBackends& backends_;
    TextRecognizer& recognizer_;
    const std::optional<uint32_t> fixedWindow_;
    const std::function<void()> quit_;

    std::mutex mutex_;
    std::shared_ptr<WindowCapture> cap_;
    std::optional<std::string> lastError_;
    SettleWaits waits_;  // last: drops its pending waits before the rest goes
};

}  // namespace quintalis
