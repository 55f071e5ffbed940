#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <mutex>

#include "base/read_file.h"
#include "imaging/codecs.h"
#include "support/engine_process.h"
#include "support/find_colour.h"
#include "support/private_bus.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/xvfb.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";
using Layout = sdbus::Struct<int32_t, std::map<std::string, sdbus::Variant>, std::vector<sdbus::Variant>>;

// The desktop's side of the tray protocol: status icons register with it,
// and it remembers who did.
class FakeWatcher {
public:
    // `host`: a tray that shows the registered icons is there.
    explicit FakeWatcher(const PrivateBus& bus, bool host = true) : connection_(bus.connect()) {
        connection_->requestName(kWatcher);
        object_ = sdbus::createObject(*connection_, "/StatusNotifierWatcher");
        object_->registerMethod(kWatcher, "RegisterStatusNotifierItem", "s", "", [this](sdbus::MethodCall call) {
            std::string item;
            call >> item;
            {
                std::lock_guard lock(mutex_);
                // Items name either their object path or a bus name of their own.
                items_.push_back(item.rfind('/', 0) == 0 ? call.getSender() + item : item);
            }
            call.createReply().send();
        });
        object_->registerProperty("IsStatusNotifierHostRegistered").onInterface(kWatcher).withGetter([host] { return host; });
        object_->registerProperty("ProtocolVersion").onInterface(kWatcher).withGetter([] { return int32_t(0); });
        object_->registerProperty("RegisteredStatusNotifierItems").onInterface(kWatcher).withGetter([this] {
            std::lock_guard lock(mutex_);
            return items_;
        });
        object_->registerSignal("StatusNotifierItemRegistered").onInterface(kWatcher).withParameters<std::string>();
        object_->registerSignal("StatusNotifierHostRegistered").onInterface(kWatcher);
        object_->finishRegistration();
        connection_->enterEventLoopAsync();
    }
    ~FakeWatcher() { connection_->leaveEventLoop(); }

    std::vector<std::string> items() {
        std::lock_guard lock(mutex_);
        return items_;
    }

private:
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IObject> object_;
    std::mutex mutex_;
    std::vector<std::string> items_;
};

struct MenuItem {
    int32_t id;
    std::string label;  // "-" for a divider
    bool visible;
};

std::vector<MenuItem> menuItems(const PrivateBus& bus, const std::string& item) {
    auto connection = bus.connect();
    auto slash = item.find('/');
    auto icon = sdbus::createProxy(*connection, item.substr(0, slash), item.substr(slash));
    auto menuPath = icon->getProperty("Menu").onInterface("org.kde.StatusNotifierItem").get<sdbus::ObjectPath>();
    auto menu = sdbus::createProxy(*connection, item.substr(0, slash), menuPath);
    uint32_t revision = 0;
    Layout root;
    menu->callMethod("GetLayout")
        .onInterface("com.canonical.dbusmenu")
        .withArguments(int32_t(0), int32_t(-1), std::vector<std::string>{})
        .storeResultsTo(revision, root);
    std::vector<MenuItem> items;
    for (auto& child : std::get<2>(root)) {
        auto layout = child.get<Layout>();
        auto& properties = std::get<1>(layout);
        MenuItem entry{std::get<0>(layout), "-", true};
        if (properties.count("label")) entry.label = properties["label"].get<std::string>();
        if (properties.count("visible")) entry.visible = properties["visible"].get<bool>();
        items.push_back(entry);
    }
    return items;
}

std::map<std::string, std::string> desktop(const PrivateBus& bus, std::map<std::string, std::string> more = {}) {
    more["DISPLAY"] = Xvfb::display();
    more["DBUS_SESSION_BUS_ADDRESS"] = bus.address();
    more["NO_AT_BRIDGE"] = "1";
    more.try_emplace("QUINTALIS_HEADLESS", "0");
    return more;
}

// Text recognition reads a sans-serif "I" as "l" as often as not.
std::string foldIAndL(std::string text) {
    std::replace(text.begin(), text.end(), 'l', 'I');
    return text;
}

bool logShows(EngineProcess& app, const std::string& line, double seconds = 30) {
    return app.waitFor([&] { return app.log().find(line) != std::string::npos; }, seconds);
}

class DesktopAppTest : public ::testing::Test {
protected:
    // The programs run() starts (a second launch, the renderer) find the
    // display and the bus in this process's environment.
    DesktopAppTest() {
        for (const auto& [name, value] : desktop(bus)) setenv(name.c_str(), value.c_str(), 1);
    }

    PrivateBus bus;
    TempDir home;
};

TEST_F(DesktopAppTest, StatusIconRegistersAndItsMenuPausesTheEngine) {
    FakeWatcher watcher(bus);
    EngineProcess app("", home.path(), desktop(bus));
    ASSERT_TRUE(app.waitFor([&] { return !watcher.items().empty(); })) << app.log();

    std::vector<MenuItem> shown;
    for (const auto& item : menuItems(bus, watcher.items().front())) {
        if (item.visible) shown.push_back(item);
    }
    std::vector<std::string> labels;
    for (const auto& item : shown) labels.push_back(item.label);
    // The Bluetooth line may be followed by what to do about it, as this machine's Bluetooth is; "Pause
    // control" is fifth from the end.
    ASSERT_GE(labels.size(), 10u) << ::testing::PrintToString(labels);
    ASSERT_LE(labels.size(), 11u) << ::testing::PrintToString(labels);
    EXPECT_EQ(labels[0], "iPhone not connected");
    EXPECT_EQ(labels[1], "Screen: not showing");
    EXPECT_EQ(labels[2].rfind("Bluetooth: ", 0), 0u);
    EXPECT_EQ(std::vector<std::string>(labels.end() - 7, labels.end()),
              (std::vector<std::string>{"-", "Open Setup\u2026", "Pause control", "Open at login", "-", "Quintalis dev",
                                        "Quit Quintalis"}));

    auto connection = bus.connect();
    auto item = watcher.items().front();
    auto icon = sdbus::createProxy(*connection, item.substr(0, item.find('/')), item.substr(item.find('/')));
    auto menuPath = icon->getProperty("Menu").onInterface("org.kde.StatusNotifierItem").get<sdbus::ObjectPath>();
    auto menu = sdbus::createProxy(*connection, item.substr(0, item.find('/')), menuPath);
    menu->callMethod("Event")
        .onInterface("com.canonical.dbusmenu")
        .withArguments(shown[shown.size() - 5].id, std::string("clicked"), sdbus::Variant(int32_t(0)), uint32_t(0));
    EXPECT_TRUE(app.waitFor([&] { return app.json(app.get("/status")).value("paused", false); }));
    EXPECT_TRUE(app.waitFor([&] {
        auto now = menuItems(bus, item);
        return std::any_of(now.begin(), now.end(), [](const MenuItem& line) {
            return line.visible && line.label == "Control paused \u2014 your AI can look, not tap";
        });
    }));
}

TEST_F(DesktopAppTest, SnapshotsEveryPageAndASecondLaunchOpensTheFirstCopysWindow) {
    // Step 4 is done, so its rail entry carries a checkmark.
    std::filesystem::create_directories(home.path() / "quintalis");
    std::ofstream(home.path() / "quintalis/defaults.json") << R"({"assistiveTouch": true, "step": 2})";
    auto shots = home.path() / "shots";
    EngineProcess app("", home.path(), desktop(bus, {{"QUINTALIS_SNAPSHOT_DIR", shots.string()}}));
    ASSERT_TRUE(logShows(app, "snapshots saved to " + shots.string())) << app.log();

    const std::vector<std::string> titles{"Let your AI use your iPhone", "Allow Bluetooth", "Show the iPhone's screen",
                                          "Pair your iPhone",            "Turn on AssistiveTouch", "Connect your AI",
                                          "Try it"};
    // One reading of the pages' headings, stacked, instead of seven.
    constexpr int kLeft = 240, kTop = 20, kRows = 80;
    PixelBuffer headings(880 - kLeft, kRows * 7, PixelFormat::rgba);
    for (int step = 0; step <= 6; ++step) {
        auto file = shots / ("live-0" + std::to_string(step) + ".png");
        auto picture = decodeImage(readFile(file).value_or(""));
        ASSERT_TRUE(picture) << file;
        ASSERT_EQ(picture->width(), 880);
        ASSERT_EQ(picture->height(), 680);
        ASSERT_EQ(picture->format(), PixelFormat::rgba);
        for (int y = 0; y < kRows; ++y) {
            std::memcpy(headings.mutableRow(step * kRows + y), picture->row(kTop + y) + kLeft * 4,
                        static_cast<size_t>(headings.width()) * 4);
        }
        if (step == 0) {
            // The green of a done step's dot sits by the fourth rail entry.
            auto check = findColour(*picture, 0x2f9e5b);
            ASSERT_TRUE(check);
            EXPECT_LT(check->first, 80);
            EXPECT_GT(check->second, 180);
            EXPECT_LT(check->second, 225);
        }
    }
    TempDir scratch;
    std::ofstream(scratch.path() / "headings.png", std::ios::binary) << encodePNG(headings).value();
    auto read = foldIAndL(run("ocr " + (scratch.path() / "headings.png").string(), scratch).out);
    for (const auto& title : titles) EXPECT_NE(read.find(foldIAndL(title)), std::string::npos) << title << ": " << read;

    auto again = run("", scratch);
    EXPECT_EQ(again.status, 0);
    EXPECT_TRUE(logShows(app, "launched again: opening the setup window")) << app.log();
    // The page the user was on is back after the pictures.
    EXPECT_EQ(parseJSON(readFile(home.path() / "quintalis/defaults.json").value_or("{}")).value()["step"], 2);
}

// Stock GNOME has no tray: the icon registers with nobody, or with a
// watcher that has no host to show it. The app must know, so that the
// window offers the menu's Pause and Quit.
TEST_F(DesktopAppTest, KnowsWhetherTheDesktopShowsItsIcon) {
    const std::string noTray = "status icon: this desktop shows no tray icons";
    const std::string tray = "status icon: the desktop has a tray for it";
    {
        EngineProcess app("", home.path(), desktop(bus));
        EXPECT_TRUE(logShows(app, noTray)) << app.log();
    }
    {
        FakeWatcher watcher(bus, false);
        EngineProcess app("", home.path(), desktop(bus));
        EXPECT_TRUE(logShows(app, noTray)) << app.log();
    }
    FakeWatcher watcher(bus);
    EngineProcess app("", home.path(), desktop(bus));
    EXPECT_TRUE(logShows(app, tray)) << app.log();
    EXPECT_EQ(app.log().find(noTray), std::string::npos);
    // The toolkit's complaints end up on standard error, which the log holds too.
    EXPECT_EQ(app.log().find("-CRITICAL"), std::string::npos) << app.log();
}

TEST_F(DesktopAppTest, HeadlessUnderADisplayNeverStartsTheToolkit) {
    EngineProcess app("", home.path(), desktop(bus, {{"QUINTALIS_HEADLESS", "1"}}));
    EXPECT_EQ(app.get("/status").status, 200);
    EXPECT_NE(app.log().find("starting headless"), std::string::npos);
    auto connection = bus.connect();
    auto daemon = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    bool owned = true;
    daemon->callMethod("NameHasOwner")
        .onInterface("org.freedesktop.DBus")
        .withArguments(std::string("org.quintalis.Quintalis"))
        .storeResultsTo(owned);
    EXPECT_FALSE(owned);
    EXPECT_EQ(app.log().find("setup window"), std::string::npos);
}

TEST_F(DesktopAppTest, RendersEveryPageWithoutAWindow) {
    TempDir dir;
    auto rendered = run("--render-steps " + (dir.path() / "pages").string(), dir);
    ASSERT_EQ(rendered.status, 0) << rendered.err;
    for (int step = 0; step <= 6; ++step) {
        auto file = dir.path() / "pages" / ("step-0" + std::to_string(step) + ".png");
        auto picture = decodeImage(readFile(file).value_or(""));
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->width(), 880);
    }
    for (const char* bad : {"", "--image x.jpg", "pages --image", "pages --colour red"}) {
        auto refused = run(std::string("--render-steps ") + bad, dir);
        EXPECT_EQ(refused.status, 1) << bad;
        EXPECT_EQ(refused.err, "usage: QuintalisApp --render-steps <dir> [--image phone.jpg]\n") << bad;
    }
    auto missing = run("--render-steps " + dir.path().string() + " --image /nonexistent.jpg", dir);
    EXPECT_EQ(missing.status, 1);
}

// Lightweight desktops keep the older tray, where GTK's own status icon
// stands in: it is found, and GTK's fault while the tray embeds it does not
// reach standard error as a "Gdk-CRITICAL".
TEST_F(DesktopAppTest, AnOlderTrayShowsTheIconWithoutToolkitComplaints) {
    ASSERT_EQ(std::system("command -v trayer >/dev/null"), 0) << "trayer is missing: scripts/install-deps installs it";
    pid_t tray = ::fork();
    if (tray == 0) {
        ::execlp("trayer", "trayer", "--edge", "top", "--widthtype", "request", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(tray, 0);
    {
        EngineProcess app("", home.path(), desktop(bus));
        EXPECT_TRUE(logShows(app, "status icon: the desktop has a tray for it")) << app.log();
        // GTK versions without the fault never say so.
        logShows(app, "status icon: GTK reported a harmless fault while the older tray embedded the icon", 5);
        EXPECT_EQ(app.log().find("-CRITICAL"), std::string::npos) << app.log();
    }
    ::kill(tray, SIGTERM);
    ::waitpid(tray, nullptr, 0);
}

}  // namespace
