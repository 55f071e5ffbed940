#include "app/ui/airplay_receiver_child.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/eventually.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace quintalis {
namespace {

using testing::eventually;
using testing::LogCapture;
using testing::TempDir;

// A stand-in for uxplay on the PATH with the given script.
class StandIn {
public:
    explicit StandIn(const std::string& script) : oldPath_(std::getenv("PATH")) {
        const auto program = dir_.path() / "uxplay";
        std::ofstream(program) << "#!/bin/sh\n" << script;
        std::filesystem::permissions(program, std::filesystem::perms::owner_all);
        setenv("PATH", (dir_.path().string() + ":" + oldPath_).c_str(), 1);
    }
    ~StandIn() { setenv("PATH", oldPath_.c_str(), 1); }

private:
    TempDir dir_;
    std::string oldPath_;
};

// A stand-in for uxplay on the PATH that writes down the words it was
// started with and then stays up, as the receiver does.
class RecordingReceiver {
public:
    RecordingReceiver() : oldPath_(std::getenv("PATH")) {
        const auto program = dir_.path() / "uxplay";
        std::ofstream(program) << "#!/bin/sh\nprintf '%s\\n' \"$*\" > \"" << arguments().string() << ".part\"\n"
                               << "mv \"" << arguments().string() << ".part\" \"" << arguments().string() << "\"\n"
                               << "exec sleep 60\n";
        std::filesystem::permissions(program, std::filesystem::perms::owner_all);
        setenv("PATH", (dir_.path().string() + ":" + oldPath_).c_str(), 1);
    }
    ~RecordingReceiver() { setenv("PATH", oldPath_.c_str(), 1); }

    std::filesystem::path arguments() const { return dir_.path() / "arguments"; }
    std::string words() const {
        std::ifstream file(arguments());
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

private:
    TempDir dir_;
    std::string oldPath_;
};

TEST(AirPlayReceiverChild, AsksUxPlayForAnX11WindowSoItCanBeCaptured) {
    RecordingReceiver uxplay;
    AirPlayReceiverChild child;
    ASSERT_TRUE(child.installed());
    ASSERT_EQ(child.start("Desk"), std::nullopt);
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(uxplay.arguments()); }));
    EXPECT_EQ(uxplay.words(), "-n Desk -nh -vs ximagesink\n");
    EXPECT_TRUE(child.running());
    child.stop();
    EXPECT_FALSE(child.running());
}

// The receiver that cannot run here says so and exits at once: its words
// reach the log and the reason it stopped.
TEST(AirPlayReceiverChild, AnExitAtOnceIsReportedWithWhatItPrinted) {
    LogCapture logs;
    AirPlayReceiverChild child;
    EXPECT_EQ(child.ended(), std::nullopt) << "never started";
    StandIn uxplay("echo 'UxPlay 1.66: An open-source AirPlay mirroring server'\n"
                   "echo 'DNS-SD (Avahi) is not available' >&2\nexit 1\n");
    ASSERT_EQ(child.start("Desk"), std::nullopt);
    std::optional<std::string> how;
    ASSERT_TRUE(eventually([&] { return (how = child.ended()).has_value(); }));
    EXPECT_EQ(how, "exited with status 1: DNS-SD (Avahi) is not available");
    EXPECT_EQ(child.ended(), std::nullopt) << "told once";
    EXPECT_FALSE(child.running());
    EXPECT_TRUE(logs.contains("uxplay: UxPlay 1.66: An open-source AirPlay mirroring server"));
    EXPECT_TRUE(logs.contains("uxplay: DNS-SD (Avahi) is not available"));
}

}  // namespace
}  // namespace quintalis
