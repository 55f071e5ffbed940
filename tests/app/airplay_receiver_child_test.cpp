#include "app/ui/airplay_receiver_child.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/eventually.h"
#include "support/temp_dir.h"

namespace quintalis {
namespace {

using testing::eventually;
using testing::TempDir;

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
    ASSERT_TRUE(AirPlayReceiverChild::installed());
    ASSERT_EQ(child.start("Desk"), std::nullopt);
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(uxplay.arguments()); }));
    EXPECT_EQ(uxplay.words(), "-n Desk -nh -vs ximagesink\n");
    EXPECT_TRUE(child.running());
    child.stop();
    EXPECT_FALSE(child.running());
}

}  // namespace
}  // namespace quintalis
