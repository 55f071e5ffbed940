#include "app/ui/airplay_receiver_child.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/read_file.h"
#include "support/eventually.h"
#include "support/log_capture.h"
#include "support/outcome_printing.h"
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

TEST(AirPlayReceiverChild, AsksUxPlayForAnX11WindowSoItCanBeCaptured) {
    TempDir words;
    const auto written = words.path() / "arguments";
    StandIn uxplay("printf '%s\\n' \"$*\" > '" + written.string() + ".part'\nmv '" + written.string() + ".part' '" +
                   written.string() + "'\nexec sleep 60\n");
    AirPlayReceiverChild child;
    ASSERT_TRUE(child.installed());
    ASSERT_EQ(child.start("Desk"), Outcome::success());
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(written); }));
    EXPECT_EQ(readFile(written), "-n Desk -nh -vs ximagesink\n");
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
    StandIn uxplay("echo 'UxPlay 1.66'\necho 'DNS-SD (Avahi) is not available' >&2\nexit 1\n");
    ASSERT_EQ(child.start("Desk"), Outcome::success());
    std::optional<std::string> how;
    ASSERT_TRUE(eventually([&] { return (how = child.ended()).has_value(); }));
    EXPECT_EQ(how, "exited with status 1: DNS-SD (Avahi) is not available");
    EXPECT_EQ(child.ended(), std::nullopt) << "told once";
    EXPECT_FALSE(child.running());
    EXPECT_TRUE(logs.contains("uxplay: UxPlay 1.66"));
}

}  // namespace
}  // namespace quintalis
