#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

#include "base/base64.h"
#include "engine/airplay_service.h"
#include "imaging/codecs.h"
#include "support/fake_clock.h"
#include "support/fake_windows.h"
#include "support/raw_http.h"

using namespace quintalis;
using namespace quintalis::testing;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t kWindow = 77;
// Tall enough that the phone's picture in it (633 × 1372) is scaled by the default limit of 1280.
constexpr int kWidth = 700, kHeight = 1400;

const std::string kNoWindow =
    "no AirPlay mirroring window: on the iPhone open Control Center \u203a Screen Mirroring \u203a choose this computer";

// A fake clock whose sleeps wait until the test lets them go, so a request
// can be held inside a wait for as long as the test needs.
class HeldClock final : public Clock {
public:
    int64_t wallMillis() const override { return clock_.wallMillis(); }
    MonotonicTime now() const override { return clock_.now(); }
    void sleep(Duration duration) override {
        std::unique_lock lock(mutex_);
        ++sleeping_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        --sleeping_;
        lock.unlock();
        clock_.sleep(duration);
    }
    bool waitForSleepers(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] { return sleeping_ >= count; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    FakeClock clock_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int sleeping_ = 0;
    bool open_ = false;
};

class RecordingRecognizer final : public TextRecognizer {
public:
    std::vector<TextLine> recognize(const PixelBuffer&) override { return {{"Settings", 0.9, 5, 2, 40, 12}}; }
};

class AirPlayServiceTest : public ::testing::Test {
protected:
    AirPlayServiceTest() { windows.setWindows({receiverWindow(kWindow, kWidth, kHeight)}); }

    // The service's capture, showing one picture.
    std::shared_ptr<WindowCapture> showing(PixelBufferRef frame = receiverFrame(kWidth, kHeight)) {
        auto capture = server.capture();
        streams.deliver(std::move(frame));
        return capture;
    }

    uint16_t port() const { return listener->boundPort(); }
    ParsedReply get(const std::string& target, const std::string& headers = "Host: 127.0.0.1\r\n") {
        return parseReply(roundTrip(port(), "GET " + target + " HTTP/1.1\r\n" + headers + "\r\n"));
    }
    static JSON json(const ParsedReply& reply) { return parseJSON(reply.body).value_or(JSON()); }

    FakeWindowServer windows;
    FakeWindowStreams streams;
    FakeClock clock;
    CaptureBackends captures{windows, streams, clock, [](const std::string&) { return std::nullopt; }, "HELP"};
    RecordingRecognizer text;
    int quits = 0;
    AirPlayServer server{captures, text, std::nullopt, [this] { ++quits; }};
    std::unique_ptr<HTTPServer> listener =
        serveHTTP(0, [this](const std::string& path, const AirPlayQuery& query, const AirPlayResponder& responder) {
            server.handle(path, query, responder);
        });
};

}  // namespace

TEST(AirPlayWire, AnswersCarryExactlyTheServicesHeaders) {
    // Pictures: no other header, whatever the response held.
    HTTPResponse picture{200, "image/jpeg", {{"X-Extra", "dropped"}}, "JPEG"};
    EXPECT_EQ(serializeAirPlayResponse(picture),
              "HTTP/1.1 200 OK\r\n"
              "Content-Type: image/jpeg\r\n"
              "Content-Length: 4\r\n"
              "Cache-Control: no-store\r\n"
              "Connection: close\r\n\r\nJPEG");
    // Every status but 200 reads "Error"; the server's own refusals gain "ok": false.
    EXPECT_EQ(serializeAirPlayResponse(HTTPResponse::error("bad Content-Length")),
              "HTTP/1.1 400 Error\r\n"
              "Content-Type: application/json\r\n"
              "Content-Length: 41\r\n"
              "Connection: close\r\n\r\n"
              R"({"error":"bad Content-Length","ok":false})");
}

TEST_F(AirPlayServiceTest, StatusWithoutADisplayListsCandidatesAndStartsNothing) {
    windows.setUnavailable("DISPLAY is not set");
    auto status = json(get("/status"));
    EXPECT_EQ(status["permission"], false);
    EXPECT_EQ(status["pid"], getpid());
    EXPECT_EQ(status["candidates"][0]["id"], kWindow);
    EXPECT_EQ(status["error"], "HELP") << "the reason comes with the refusal";
    auto frame = get("/frame.jpg");
    EXPECT_EQ(frame.status, 503);
    EXPECT_EQ(frame.body, R"({"error":"HELP","ok":false})");
    EXPECT_FALSE(streams.started());
}

TEST_F(AirPlayServiceTest, StatusDescribesTheCaptureAndItsNewestFrame) {
    showing();
    clock.advance(40ms);
    auto status = json(get("/status"));
    EXPECT_EQ(status["permission"], true);
    EXPECT_EQ(status["window"]["id"], kWindow);
    EXPECT_EQ(status["frame"], (JSON{{"w", kWidth},
                                     {"h", kHeight},
                                     {"content", {{"x", 33}, {"y", 28}, {"w", 633}, {"h", 1372},
                                                  {"method", "edges"}, {"orientation", "portrait"}}},
                                     {"age_ms", 40},
                                     {"still_ms", 40},
                                     {"frames", 1}}));
    EXPECT_FALSE(status.contains("error"));
}

TEST_F(AirPlayServiceTest, FrameParametersTakeOnlyTheirExactValues) {
    showing();
    // Without a limit the picture's long edge is 1280.
    auto jpeg = get("/frame.jpg");
    ASSERT_EQ(jpeg.status, 200) << jpeg.body;
    auto picture = decodeImage(jpeg.body);
    ASSERT_TRUE(picture);
    EXPECT_EQ((std::pair{picture->width(), picture->height()}), (std::pair{591, 1280}));
    // "format=png" turns the JPEG route into PNG.
    auto png = get("/frame.jpg?format=png&maxEdge=1e2");
    EXPECT_NE(png.head.find("Content-Type: image/png\r\n"), std::string::npos);
    EXPECT_EQ(decodeImage(png.body)->height(), 100);

    // Only "crop=0" shows the whole window, and only "ocr=1" reads text.
    EXPECT_EQ(json(get("/frame?crop=false"))["fw"], 633);
    EXPECT_EQ(json(get("/frame?crop=0"))["fw"], kWidth);
    EXPECT_FALSE(json(get("/frame?ocr=true")).contains("ocr"));
    auto marked = std::make_shared<PixelBuffer>(*receiverFrame(kWidth, kHeight));
    for (int y = 600; y < 620; ++y) std::fill_n(marked->mutableRow(y) + 300 * 4, 40 * 4, 20);
    streams.deliver(marked);
    EXPECT_EQ(json(get("/frame?ocr=1"))["ocr"][0]["text"], "Settings");
    // The JSON route carries the same picture in Base64.
    EXPECT_EQ(json(get("/frame?maxEdge=300"))["image"], base64Encoded(get("/frame.jpg?maxEdge=300").body));

    // The engine's screenshot reads maxEdge by the same rule; a limit it would
    // refuse must not turn into the default here.
    for (std::string value : {"0", "999.5", ""}) {
        EXPECT_EQ(get("/frame.jpg?maxEdge=" + value).body,
                  R"({"error":"maxEdge must be a whole number of pixels, 1 or more","ok":false})") << value;
    }
}

TEST_F(AirPlayServiceTest, EachFailureIsAnsweredWithItsReason) {
    EXPECT_EQ(get("/frames").body, R"({"error":"not found","ok":false})");
    auto noFrame = get("/frame.png");
    EXPECT_EQ(noFrame.status, 503);
    EXPECT_EQ(json(noFrame)["error"], "no frame yet from the AirPlay window");
    EXPECT_EQ(streams.started(), kWindow) << "the capture itself started";
    EXPECT_FALSE(json(get("/status")).contains("error")) << "a capture without frames is no failed attempt";

    windows.setWindows({});
    for (std::string target : {"/frame", "/wait", "/changes"}) {
        EXPECT_EQ(get(target).body, JSON({{"error", kNoWindow}, {"ok", false}}).dump()) << target;
    }
    windows.setWindows({receiverWindow(kWindow, kWidth, kHeight)});
    streams.refuse("the X server has no Composite extension");
    EXPECT_EQ(json(get("/frame"))["error"], "cannot capture uxplay window 77: the X server has no Composite extension");
}

TEST_F(AirPlayServiceTest, OneLiveCaptureIsKeptADeadOneReplacedAndAFixedWindowComesFirst) {
    auto first = showing();
    EXPECT_EQ(server.capture(), first);
    streams.end("the X display closed");
    auto second = server.capture();
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    // A window that went away is noticed, and its capture dropped.
    windows.setWindows({});
    EXPECT_FALSE(server.capture());
    EXPECT_FALSE(second->alive());

    auto other = receiverWindow(90, 300, 300);
    other.owner = "xterm";  // no candidate: only the fixed number picks it
    windows.setWindows({other, receiverWindow(kWindow, kWidth, kHeight)});
    EXPECT_EQ(AirPlayServer(captures, text, 90).capture()->windowID(), 90u);
    EXPECT_EQ(AirPlayServer(captures, text, 1234).capture()->windowID(), kWindow);
}

// How a wait decides is the settle waits' own affair; here, that the
// service feeds them the window's changes and answers from them.
TEST_F(AirPlayServiceTest, WaitsAndChangesFollowTheWindowsFrames) {
    showing();
    const int64_t first = clock.wallMillis();
    clock.advance(100ms);
    streams.deliver(receiverFrame(kWidth, kHeight, 90));
    clock.advance(4900ms);

    auto wait = json(get("/wait?since=" + std::to_string(first - 50)));
    EXPECT_EQ(wait["settled"], true);
    EXPECT_EQ(wait["waited_ms"], 0);
    EXPECT_EQ(wait["changes"], 2);
    EXPECT_EQ(wait["first_change_ms"], 50);
    EXPECT_EQ(wait["still_ms"], 4900);
    EXPECT_EQ(json(get("/wait"))["waited_ms"], 900);  // from now: settled once "first" has passed
    EXPECT_EQ(json(get("/changes")), (JSON{{"ok", true}, {"now", clock.wallMillis()}, {"changes", {first, first + 100}}}));
    // Changes fall on whole milliseconds; a fraction between them splits them.
    EXPECT_EQ(json(get("/changes?since=" + std::to_string(first) + ".5"))["changes"], JSON{first + 100});
}

TEST_F(AirPlayServiceTest, WebPagesAreRefusedHeadsAreBoundedAndQuitIsLeftToTheOwner) {
    EXPECT_EQ(get("/status", "Host: 127.0.0.1\r\nOrigin: http://example.com\r\n").body,
              R"({"error":"forbidden: requests from web pages are not accepted","ok":false})");
    EXPECT_EQ(get("/status", "Host: localhost:" + std::to_string(port()) + "\r\n").status, 200);
    // A body is never waited for.
    EXPECT_EQ(parseReply(roundTrip(port(), "POST /status HTTP/1.1\r\nContent-Length: 100\r\n\r\n")).status, 200);

    // A head may fill 64 KiB with its blank line; once 64 KiB have come
    // without one, the connection closes unanswered.
    const std::string line = "GET /status HTTP/1.1\r\nX-Padding: ";
    const std::string filled = line + std::string(kAirPlayMaxHead - 4 - line.size(), 'a');
    EXPECT_EQ(parseReply(roundTrip(port(), filled + "\r\n\r\n")).status, 200);
    RawConnection tooLong(port());
    tooLong.send(filled + "\r\n\r");
    EXPECT_TRUE(tooLong.staysSilent(50)) << "one byte short of the limit";
    tooLong.send("a");
    EXPECT_TRUE(tooLong.closedWithoutReply());

    EXPECT_EQ(get("/quit").body, R"({"ok":true})");
    EXPECT_EQ(quits, 1);
}

TEST(AirPlayService, AWindowThatNeverDrawsHoldsUpNoOtherRequest) {
    FakeWindowServer windows;
    FakeWindowStreams streams;
    HeldClock clock;
    windows.setWindows({receiverWindow(kWindow, kWidth, kHeight)});
    CaptureBackends captures{windows, streams, clock, [](const std::string&) { return std::nullopt; }, ""};
    RecordingRecognizer text;
    AirPlayServer server{captures, text, std::nullopt};
    auto listener = serveHTTP(0, [&](const std::string& path, const AirPlayQuery& query,
                                     const AirPlayResponder& responder) { server.handle(path, query, responder); });
    auto request = [](const std::string& target) { return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; };

    // The first request starts the capture and waits for a frame that never comes.
    RawConnection first(listener->boundPort());
    first.send(request("/frame.jpg"));
    ASSERT_TRUE(clock.waitForSleepers(1));
    RawConnection other(listener->boundPort());
    other.send(request("/status"));
    auto reply = other.readAll();
    clock.open();
    ASSERT_TRUE(reply) << "/status waited for another request's first frame";
    EXPECT_EQ(parseJSON(parseReply(*reply).body).value_or(JSON())["window"]["id"], kWindow);
    EXPECT_EQ(parseReply(first.readAll().value_or("")).status, 503) << "no frame came";
}
