#include <gtest/gtest.h>

#include <sstream>

#include "base/read_file.h"
#include "imaging/codecs.h"
#include "support/engine_process.h"
#include "support/headless_chromium.h"
#include "support/page_server.h"
#include "support/phone_steps.h"
#include "support/xvfb.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

// The lines in which the program recorded the web page's requests it refused.
std::vector<std::string> refusals(const std::string& log) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.find("http: refused ") != std::string::npos) lines.push_back(line.substr(line.find("http: refused ")));
    }
    return lines;
}

bool anyContains(const std::vector<std::string>& lines, const std::string& part) {
    for (const auto& line : lines) {
        if (line.find(part) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

// A page from another site (another loopback port here, under a made-up name
// resolved to 127.0.0.1 as a rebinding attacker's would be) tries every kind
// of request a browser lets it send to both services, in a real browser.
TEST(Browser, AWebPageCanNeitherDriveNorSeeThePhone) {
    ASSERT_FALSE(Xvfb::display().empty()) << "Xvfb did not start";
    setenv("DISPLAY", Xvfb::display().c_str(), 1);
    TempDir home;
    // One phone on the USB cable for the engine, one shown by the AirPlay receiver.
    EngineProcess engine("phone,phone:airplay", home.path());
    // Pairing under the sanitizers on a busy machine can take well over 20 s.
    ASSERT_TRUE(engine.waitFor([&] { return allPaired(engine, 1); }, 90)) << engine.log();
    // A program on this computer gets the pictures the page is after.
    ASSERT_TRUE(engine.waitFor([&] { return engine.airplayGet("/frame.jpg").status == 200; }, 90)) << engine.log();
    ASSERT_EQ(engine.get("/screenshot").status, 200);
    // Notes open, so that typing would show in its text.
    openApp(engine, 0xF7C744, "Notes");
    const JSON before = engine.truth();
    const int tapX = 300, tapY = 200;

    auto own = encodePNG(PixelBuffer(2, 2));
    auto page = readFile(QUINTALIS_BROWSER_PAGE);
    ASSERT_TRUE(own && page);
    PageServer site({{"/page.html", {"text/html", *page}}, {"/own.png", {"image/png", *own}}});
    const std::string url = "http://rebound.test:" + std::to_string(site.port()) + "/page.html?engine=" +
                            std::to_string(engine.port()) + "&airplay=" + std::to_string(engine.airplayPort()) +
                            "&x=" + std::to_string(tapX) + "&y=" + std::to_string(tapY);
    std::optional<std::string> report;
    {
        HeadlessChromium browser(url, {"--host-resolver-rules=MAP rebound.test 127.0.0.1"});
        ASSERT_TRUE(browser.started());
        report = site.waitForPost("/report", 90);
    }
    ASSERT_TRUE(report) << "the page reported nothing";
    const JSON results = parseJSON(*report).value_or(JSON());
    const auto refused = refusals(engine.log());
    std::string sent;
    for (const auto& line : refused) sent += line + "\n";
    RecordProperty("pageResults", results.dump());
    RecordProperty("browserSent", sent);
    std::cout << "page results: " << results.dump(1) << "\nwhat the browser sent:\n" << sent;

    // The page could read a picture of its own: the browser let it do what it may.
    EXPECT_EQ(results.value("ownPicture", ""), "read 2x2 pixel 0,0,0,255");

    // Sent, but done nothing: the phone is as it was.
    for (const char* name : {"engineSimpleTap", "engineSimpleType", "engineSimpleHome", "airplaySimpleQuit", "reboundTap"}) {
        EXPECT_EQ(results.value(name, ""), "opaque") << name;
    }
    EXPECT_EQ(results.value("engineFormTap", ""), "submitted");
    EXPECT_EQ(engine.truth(), before);

    // Nothing read: no JSON, no picture, not even a picture's size.
    for (const char* name : {"enginePreflightedTap", "engineStatus", "airplayPreflighted", "airplayStatus", "reboundStatus"}) {
        EXPECT_EQ(results.value(name, ""), "error: TypeError") << name;
    }
    for (const char* name : {"engineScreenshot", "airplayFrame", "reboundScreenshot"}) {
        EXPECT_EQ(results.value(name, ""), "not loaded") << name;
    }

    // What the browser sent, so that a change in a later browser shows up here.
    // A fetch names its Origin; an <img> only its Sec-Fetch-Site, sent to
    // 127.0.0.1 as a trustworthy origin; to the rebound name the browser sends
    // neither, and only the Host gives the <img> away.
    const std::string origin = "Origin: http://rebound.test:" + std::to_string(site.port());
    const std::string engineHost = "Host: 127.0.0.1:" + std::to_string(engine.port());
    const std::string airplayHost = "Host: 127.0.0.1:" + std::to_string(engine.airplayPort());
    const std::string reboundHost = "Host: rebound.test:" + std::to_string(engine.port());
    for (std::string request :
         {"POST /tap from a web page (" + origin + "; " + engineHost + "; Sec-Fetch-Site: cross-site)",
          "POST /type from a web page (" + origin + "; " + engineHost + "; Sec-Fetch-Site: cross-site)",
          "OPTIONS /tap from a web page (" + origin + "; " + engineHost + "; Sec-Fetch-Site: cross-site)",
          "GET /screenshot from a web page (" + engineHost + "; Sec-Fetch-Site: cross-site)",
          "GET /frame.jpg from a web page (" + airplayHost + "; Sec-Fetch-Site: cross-site)",
          "POST /quit from a web page (" + origin + "; " + airplayHost + "; Sec-Fetch-Site: cross-site)",
          "POST /tap from a web page (" + origin + "; " + reboundHost + ")",
          "GET /screenshot from a web page (" + reboundHost + ")"}) {
        EXPECT_TRUE(anyContains(refused, request)) << request << "\n" << sent;
    }

    // The same typing from a program does show on the phone. (A tap would
    // leave no trace: Notes has nothing else to tap, and the pointer goes
    // back to rest.)
    ASSERT_EQ(engine.post("/type", {{"text", "typed by a page"}}).status, 200);
    EXPECT_TRUE(engine.waitFor([&] { return engine.truth()[0]["notesText"] == "typed by a page"; }))
        << engine.truth().dump();
}
