#include <gtest/gtest.h>

#include <algorithm>

#include "engine/http_server.h"
#include "support/run_program.h"

using namespace quintalis::testing;

TEST(Entry, VersionAndTheRendererUsage) {
    TempDir dir;
    auto version = run("--version", dir);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "Quintalis dev\n");
    auto render = run("--render-steps", dir);
    EXPECT_EQ(render.status, 1);
    EXPECT_EQ(render.err, "usage: QuintalisApp --render-steps <dir> [--image phone.jpg]\n");
}

TEST(Entry, AHeadlessProgramLeavesAPortAnotherEngineServes) {
    quintalis::HTTPServer other(0, [](const quintalis::HTTPRequest&) {
        return quintalis::HTTPResponse::json(quintalis::JSON{{"app", "Quintalis"}});
    });
    other.start();
    const std::string port = std::to_string(other.boundPort());
    TempDir dir;
    setenv("QUINTALIS_ENGINE_PORT", port.c_str(), 1);
    setenv("QUINTALIS_SIMULATOR", "1", 1);
    auto second = run("", dir);
    unsetenv("QUINTALIS_ENGINE_PORT");
    unsetenv("QUINTALIS_SIMULATOR");
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("] engine: port " + port + " is served by Quintalis; nothing to do here\n"),
              std::string::npos)
        << second.err;
}

TEST(Entry, AnUnknownCommandWordListsTheCommandsInsteadOfStartingTheApp) {
    // Were the app started after all, it would find this engine and end.
    quintalis::HTTPServer other(0, [](const quintalis::HTTPRequest&) {
        return quintalis::HTTPResponse::json(quintalis::JSON{{"app", "Quintalis"}});
    });
    other.start();
    TempDir dir;
    auto typo = run("airplay-lst", dir,
                    "-u DISPLAY -u WAYLAND_DISPLAY QUINTALIS_SIMULATOR=1 QUINTALIS_ENGINE_PORT=" +
                        std::to_string(other.boundPort()));
    EXPECT_EQ(typo.status, 2);
    EXPECT_EQ(typo.out, "");
    EXPECT_TRUE(typo.err.starts_with("unknown command: airplay-lst\ncommands: ")) << typo.err;
    for (const char* command : {" airplay-list", " usb-capture", " mcp", " pair"}) {
        EXPECT_NE(typo.err.find(command), std::string::npos) << command;
    }
    EXPECT_EQ(std::count(typo.err.begin(), typo.err.end(), '\n'), 2) << "nothing started, nothing logged";
}
