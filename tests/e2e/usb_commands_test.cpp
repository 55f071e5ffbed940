#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "base/json.h"
#include "base/read_file.h"
#include "imaging/codecs.h"
#include "support/run_program.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

// The USB commands of the built program, on virtual iPhones.
class USBCommandsProgramTest : public ::testing::Test {
protected:
    void SetUp() override { simulate("1"); }
    void TearDown() override { unsetenv("QUINTALIS_SIMULATOR"); }
    static void simulate(const char* phones) { setenv("QUINTALIS_SIMULATOR", phones, 1); }

    std::string file(const std::string& name) const { return (dir.path() / name).string(); }
    std::string bytesOf(const std::string& name) const { return readFile(file(name)).value_or(""); }

    static std::vector<JSON> lines(const std::string& text) {
        std::vector<JSON> parsed;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) parsed.push_back(JSON::parse(line));
        return parsed;
    }

    TempDir dir;
};

TEST_F(USBCommandsProgramTest, ListsTheVirtualPhonesOrNoneAfterWaiting) {
    simulate("2");
    auto listed = run("usb-list", dir);
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(JSON::parse(listed.out),
              JSON::parse(R"j([{"id":"00008120-000A1B2C3D4E5F01","model":"iOS Device (iPhone 15 Pro)","name":"Simulated iPhone"},)j"
                          R"j({"id":"00008120-000A1B2C3D4E5F02","model":"iOS Device (iPhone 14)","name":"Simulated iPhone 2"}])j"));

    unsetenv("QUINTALIS_SIMULATOR");  // no USB screens on this machine
    auto start = std::chrono::steady_clock::now();
    auto none = run("usb-list 0.5", dir);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "[]\n");
}

TEST_F(USBCommandsProgramTest, CapturesToTheFormatTheNameAsksFor) {
    auto scaled = run("usb-capture " + file("out.jpg") + " --max 1000", dir);
    EXPECT_EQ(scaled.status, 0) << scaled.err;
    // Sized as the engine's screenshot of the same limit: 1179 × 1000 / 2556 = 461.3.
    auto picture = decodeImage(bytesOf("out.jpg"));
    ASSERT_TRUE(picture);
    EXPECT_EQ(std::make_pair(picture->width(), picture->height()), std::make_pair(461, 1000));

    // The suffix chooses PNG in any letter case; anything else is JPEG.
    EXPECT_EQ(run("usb-capture " + file("shot.PNG") + " --device 'Simulated iPhone' --max 200", dir).status, 0);
    EXPECT_EQ(bytesOf("shot.PNG").substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(run("usb-capture " + file("shot.webp") + " --max 200", dir).status, 0);
    EXPECT_EQ(bytesOf("shot.webp").substr(0, 3), "\xff\xd8\xff");
}

TEST_F(USBCommandsProgramTest, ALockedPhoneWritesNothingAndFails) {
    simulate("phone:locked");
    auto locked = run("usb-capture " + file("out.png") + " --timeout 0.2", dir);
    EXPECT_EQ(locked.status, 1);
    EXPECT_EQ(locked.out, "{\"error\":\"no frame yet from Simulated iPhone (is the iPhone unlocked?)\",\"ok\":false}\n");
    EXPECT_FALSE(std::filesystem::exists(file("out.png")));
}

TEST_F(USBCommandsProgramTest, ServesOneAnswerPerLine) {
    std::ofstream(file("requests")) << "snap " << file("a.png") << "\n"
                                    << "snap " << file("b.png") << " 640 1\n"
                                    << "snap " << file("c.png") << " 640 yes\n"
                                    << "snap " << file("d.png") << " abc\n"
                                    << "snap " << file("e.png") << " 320\n"
                                    << "  info  \n"
                                    << "\n"
                                    << "snap\n"
                                    << "hello there\n"
                                    << "quit\n"
                                    << "info\n";
    auto served = run("usb-serve < " + file("requests"), dir);
    EXPECT_EQ(served.status, 0) << served.err;
    auto answers = lines(served.out);
    ASSERT_EQ(answers.size(), 9u) << served.out;
    EXPECT_EQ(answers[0], (JSON{{"ok", true}, {"event", "ready"}, {"device", "Simulated iPhone"},
                                {"id", "00008120-000A1B2C3D4E5F01"}}));
    EXPECT_EQ(answers[1]["h"], 1280);  // the long edge by default
    EXPECT_FALSE(answers[1].contains("ocr"));
    EXPECT_EQ(answers[2]["h"], 640);
    EXPECT_TRUE(answers[2]["ocr"].is_array());
    EXPECT_FALSE(answers[2]["ocr"].empty());  // the home screen's labels
    EXPECT_EQ(answers[3]["h"], 640);
    EXPECT_FALSE(answers[3].contains("ocr"));
    EXPECT_EQ(answers[4]["h"], 1280);
    EXPECT_EQ(answers[5]["h"], 320);
    EXPECT_EQ(answers[6], (JSON{{"ok", true}, {"device", "Simulated iPhone"}, {"id", "00008120-000A1B2C3D4E5F01"},
                                {"fw", 1179}, {"fh", 2556}}));
    EXPECT_EQ(answers[7], (JSON{{"ok", false}, {"error", "unknown command snap"}}));
    EXPECT_EQ(answers[8], (JSON{{"ok", false}, {"error", "unknown command hello"}}));

    // The end of the input ends it too; "serve" is the same command.
    std::ofstream(file("info")) << "info\n";
    auto ended = run("serve --image " + file("a.png") + " < " + file("info"), dir);
    EXPECT_EQ(ended.status, 0) << ended.err;
    EXPECT_EQ(lines(ended.out),
              (std::vector<JSON>{{{"ok", true}, {"event", "ready"}, {"device", "still image"}, {"id", file("a.png")}},
                                 {{"ok", true}, {"device", "still image"}, {"id", file("a.png")}, {"fw", 590},
                                  {"fh", 1280}}}));
}

}  // namespace
