#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <regex>

#include "base/json.h"
#include "base/read_file.h"
#include "imaging/codecs.h"
#include "support/raw_http.h"
#include "support/run_program.h"
#include "support/xvfb.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

// A virtual iPhone shown in a receiver window of the program's own, with no X display.
const std::string kSimulated = "-u DISPLAY QUINTALIS_SIMULATOR=phone:airplay";
const std::string kNoDisplay = "-u DISPLAY -u WAYLAND_DISPLAY -u QUINTALIS_SIMULATOR";
const std::string kHelp =
    "Screen capture isn't available to quintalis-mirror: no X display (run it inside an X11 or XWayland session, or "
    "set DISPLAY)\n";

JSON printed(const ProgramRun& result) { return parseJSON(result.out).value_or(JSON()); }

// `quintalis airplay-serve` running in the background, with its standard
// error read until the line that says where it listens.
class ServeProcess {
public:
    explicit ServeProcess(const std::string& arguments) {
        // The shell says its pid first, then becomes the program.
        pipe_ = popen(("exec env -u DISPLAY QUINTALIS_SIMULATOR=phone:airplay sh -c 'echo $$; exec " +
                       std::string(QUINTALIS_EXECUTABLE) + " " + arguments + " 2>&1 >/dev/null'")
                          .c_str(),
                      "r");
        static const std::regex started(R"(quintalis-mirror airplay-serve on 127\.0\.0\.1:(\d+) \(screen recording: (\w+)\)\n)");
        std::smatch match;
        char line[1024];
        if (fgets(line, sizeof line, pipe_)) pid_ = std::atoi(line);
        while (!std::regex_search(errors_, match, started) && fgets(line, sizeof line, pipe_)) errors_ += line;
        if (!match.empty()) {
            port_ = static_cast<uint16_t>(std::stoi(match[1]));
            permission_ = match[2];
        }
    }
    ~ServeProcess() {
        if (pid_ > 0) kill(pid_, SIGTERM);
        if (pipe_) pclose(pipe_);
    }

    uint16_t port() const { return port_; }
    const std::string& permission() const { return permission_; }
    const std::string& errors() const { return errors_; }
    ParsedReply get(const std::string& target) {
        return parseReply(roundTrip(port_, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    }
    // The exit status, once the process has ended by itself.
    int exitStatus() {
        char rest[1024];
        while (fgets(rest, sizeof rest, pipe_)) {
        }
        const int status = pclose(pipe_);
        pipe_ = nullptr;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    FILE* pipe_ = nullptr;
    pid_t pid_ = -1;
    std::string errors_;
    uint16_t port_ = 0;
    std::string permission_;
};

}  // namespace

TEST(AirPlayCommands, ListShowsTheReceiverWindowWithItsScore) {
    TempDir dir;
    auto candidates = run("airplay-list", dir, kSimulated);
    ASSERT_EQ(candidates.status, 0) << candidates.err;
    JSON list = printed(candidates);
    EXPECT_EQ(list["permission"], true);
    ASSERT_EQ(list["windows"].size(), 1u) << candidates.out;
    EXPECT_EQ(list["windows"][0]["title"], "AirPlay: Simulated iPhone");
    EXPECT_GT(list["windows"][0]["score"], 0);
    JSON all = printed(run("airplay-list --all", dir, kSimulated))["windows"];
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]["score"], list["windows"][0]["score"]) << "every window comes scored";

    auto nothing = run("airplay-list", dir, kNoDisplay);
    EXPECT_EQ(nothing.status, 0);
    const std::string reason = kHelp.substr(0, kHelp.size() - 1);
    EXPECT_EQ(printed(nothing), (JSON{{"permission", false}, {"windows", JSON::array()}, {"error", reason}}));

    // Wayland alone: no window of its own can be captured, only XWayland's.
    auto wayland = run("airplay-list", dir, kNoDisplay + " WAYLAND_DISPLAY=wayland-0");
    EXPECT_EQ(wayland.status, 0);
    EXPECT_EQ(printed(wayland)["error"],
              "Screen capture isn't available to quintalis-mirror: this Wayland session has no X display, and "
              "capturing a window needs XWayland (install it, for example with sudo apt install xwayland, then log "
              "in again)");
    EXPECT_EQ(printed(wayland)["permission"], false);
}

TEST(AirPlayCommands, WithoutCompositeWindowsAreListedButPermissionIsFalse) {
    ASSERT_FALSE(Xvfb::displayWithoutComposite().empty()) << "Xvfb did not start";
    const std::string display = "-u QUINTALIS_SIMULATOR DISPLAY=" + Xvfb::displayWithoutComposite();
    const std::string reason =
        "Screen capture isn't available: the X server has no Composite extension, which capturing a window needs";
    TempDir dir;
    auto listed = run("airplay-list --all", dir, display);
    ASSERT_EQ(listed.status, 0) << listed.err;
    JSON list = printed(listed);
    EXPECT_EQ(list["permission"], false) << listed.out;
    EXPECT_EQ(list["error"], reason);
    auto capture = run("airplay-capture shot.png", dir, display);
    EXPECT_EQ(capture.status, 1);
    EXPECT_EQ(capture.err, reason + "\n");
}

TEST(AirPlayCommands, CaptureWritesThePictureItDescribes) {
    TempDir dir;
    const auto path = dir.path() / "shot.PNG";
    auto result = run("airplay-capture " + path.string() + " --max 300", dir, kSimulated);
    ASSERT_EQ(result.status, 0) << result.err;
    JSON described = printed(result);
    EXPECT_EQ(described["ok"], true);
    EXPECT_EQ(described["mime"], "image/png") << "the extension in any case chooses PNG";
    EXPECT_FALSE(described.contains("data"));
    auto bytes = readFile(path);
    ASSERT_TRUE(bytes);
    auto picture = decodeImage(*bytes);
    ASSERT_TRUE(picture);
    EXPECT_EQ(described["w"], picture->width());
    EXPECT_EQ(described["h"], picture->height());
    EXPECT_LE(std::max(picture->width(), picture->height()), 300);
}

TEST(AirPlayCommands, CaptureFailuresEndWithStatusOne) {
    TempDir dir;
    for (std::string command : {"airplay-capture shot.jpg", "capture-latency --seconds 0"}) {
        auto result = run(command, dir, kNoDisplay);
        EXPECT_EQ(result.status, 1) << command;
        EXPECT_EQ(result.err, kHelp) << command;
    }
    auto missing = run("airplay-capture shot.jpg --window 4", dir, kSimulated);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no AirPlay mirroring window: on the iPhone open Control Center \u203a Screen "
                               "Mirroring \u203a this computer (an AirPlay receiver such as UxPlay must be running)\n"),
              std::string::npos)
        << missing.err;

    // A picture that cannot be written is no success.
    auto unwritable = run("airplay-capture /nonexistent/shot.jpg", dir, kSimulated);
    EXPECT_EQ(unwritable.status, 1);
    JSON described = printed(unwritable);
    EXPECT_EQ(described["ok"], false);
    EXPECT_EQ(described["error"], "cannot write /nonexistent/shot.jpg");
    EXPECT_TRUE(described.contains("w")) << "the rendering is still described";
}

TEST(AirPlayCommands, CaptureLatencyCountsFramesAndChanges) {
    TempDir dir;
    auto result = run("capture-latency --seconds 0.3", dir, kSimulated);
    ASSERT_EQ(result.status, 0) << result.err;
    JSON watched = printed(result);
    EXPECT_EQ(watched["window"]["title"], "AirPlay: Simulated iPhone");
    EXPECT_GE(watched["frames"], 1);
    ASSERT_TRUE(watched["changes"].is_array());
    for (const auto& change : watched["changes"]) EXPECT_TRUE(change.is_number_integer() && change >= 0 && change <= 1000);
}

TEST(AirPlayServe, ServesUntilQuitThenEndsWithStatusZero) {
    ServeProcess serve("airplay-serve --port 0");
    ASSERT_NE(serve.port(), 0) << serve.errors();
    EXPECT_EQ(serve.permission(), "true");
    JSON status = parseJSON(serve.get("/status").body).value_or(JSON());
    EXPECT_EQ(status["app"], "quintalis-mirror");
    EXPECT_EQ(status["candidates"][0]["title"], "AirPlay: Simulated iPhone");
    auto frame = serve.get("/frame.jpg?maxEdge=200");
    EXPECT_EQ(frame.status, 200);
    EXPECT_TRUE(decodeImage(frame.body));

    EXPECT_EQ(serve.get("/quit").body, R"({"ok":true})");
    EXPECT_EQ(serve.exitStatus(), 0);
}

TEST(AirPlayServe, APortItCannotHaveEndsItWithStatusOne) {
    ServeProcess first("airplay-serve --port 0");
    ASSERT_NE(first.port(), 0) << first.errors();
    TempDir dir;
    const std::string port = std::to_string(first.port());
    auto taken = run("airplay-serve --port " + port, dir, kSimulated);
    EXPECT_EQ(taken.status, 1);
    EXPECT_NE(taken.err.find("cannot listen on 127.0.0.1:" + port + ": Address already in use\n"), std::string::npos)
        << taken.err;
}
