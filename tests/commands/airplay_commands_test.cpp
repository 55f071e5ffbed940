#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

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
        int errors[2];
        if (pipe(errors) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(errors[1], STDERR_FILENO);
            close(errors[0]);
            unsetenv("DISPLAY");
            setenv("QUINTALIS_SIMULATOR", "phone:airplay", 1);
            execl("/bin/sh", "sh", "-c", (std::string("exec ") + QUINTALIS_EXECUTABLE + " " + arguments).c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(errors[1]);
        errors_ = errors[0];
        static const std::regex started(R"(quintalis-mirror airplay-serve on 127\.0\.0\.1:(\d+) \(screen recording: (\w+)\)\n)");
        std::smatch match;
        while (!std::regex_search(text_, match, started) && readMore()) {
        }
        if (!match.empty()) {
            port_ = static_cast<uint16_t>(std::stoi(match[1]));
            permission_ = match[2];
        }
    }
    ~ServeProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (errors_ >= 0) close(errors_);
    }

    uint16_t port() const { return port_; }
    const std::string& permission() const { return permission_; }
    const std::string& errors() const { return text_; }
    ParsedReply get(const std::string& target) {
        return parseReply(roundTrip(port_, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    }
    // The exit status, once the process has ended by itself.
    int exitStatus() {
        while (readMore()) {
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    // False at the end of the stream, or when nothing came for 30 s.
    bool readMore() {
        pollfd waiting{errors_, POLLIN, 0};
        if (poll(&waiting, 1, 30000) <= 0) return false;
        char buffer[4096];
        ssize_t n = read(errors_, buffer, sizeof buffer);
        if (n <= 0) return false;
        text_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int errors_ = -1;
    std::string text_;
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
    const std::pair<std::string, std::string> usage[] = {
        {"airplay-capture", "usage: airplay-capture <out.png|.jpg> [--window ID] [--max N] [--ocr] [--no-crop]\n"},
        {"airplay-capture --max 800 shot.jpg",
         "usage: airplay-capture <out.png|.jpg> [--window ID] [--max N] [--ocr] [--no-crop]\n"},
        {"airplay-capture shot.jpg --max 0", "--max must be a positive number\n"},
    };
    for (const auto& [arguments, message] : usage) {
        auto result = run(arguments, dir, kSimulated);
        EXPECT_EQ(result.status, 1) << arguments;
        EXPECT_EQ(result.err, message) << arguments;
        EXPECT_EQ(result.out, "") << arguments;
    }
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
    for (const auto& change : watched["changes"]) {
        EXPECT_TRUE(change.is_number_integer());
        EXPECT_GE(change, 0);
        EXPECT_LE(change, 1000);
    }
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
    for (std::string bad : {"abc", "70000", "-1"}) {
        auto refused = run("airplay-serve --port " + bad, dir, kSimulated);
        EXPECT_EQ(refused.status, 1) << bad;
        EXPECT_NE(refused.err.find("usage: airplay-serve [--port N] [--window ID]\n"), std::string::npos) << bad;
    }
}
