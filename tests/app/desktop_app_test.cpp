#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <set>

#include "base/read_file.h"
#include "imaging/codecs.h"
#include "support/desktop_session.h"
#include "support/engine_process.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";
constexpr const char* kNoTray = "status icon: this desktop shows no tray icons";
constexpr const char* kTray = "status icon: the desktop has a tray for it";
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

// The status icon's menu as the tray reads it: the visible items' ids and labels ("-" for a divider).
std::vector<std::pair<int32_t, std::string>> shownItems(sdbus::IProxy& menu) {
    uint32_t revision = 0;
    Layout root;
    menu.callMethod("GetLayout")
        .onInterface("com.canonical.dbusmenu")
        .withArguments(int32_t(0), int32_t(-1), std::vector<std::string>{})
        .storeResultsTo(revision, root);
    std::vector<std::pair<int32_t, std::string>> items;
    for (auto& child : std::get<2>(root)) {
        auto layout = child.get<Layout>();
        auto& properties = std::get<1>(layout);
        if (properties.count("visible") && !properties["visible"].get<bool>()) continue;
        items.emplace_back(std::get<0>(layout),
                           properties.count("label") ? properties["label"].get<std::string>() : std::string("-"));
    }
    return items;
}

bool logShows(EngineProcess& app, const std::string& line, double seconds = 30) {
    return app.waitFor([&] { return app.log().find(line) != std::string::npos; }, seconds);
}

class DesktopAppTest : public ::testing::Test {
protected:
    // Every copy started here, by EngineProcess or run(), inherits the session.
    DesktopAppTest() {
        joinDesktopSession(bus);
        setenv("QUINTALIS_HEADLESS", "0", 1);
    }

    PrivateBus bus;
    TempDir home;
};

TEST_F(DesktopAppTest, StatusIconRegistersAndItsMenuPausesTheEngine) {
    FakeWatcher watcher(bus);
    EngineProcess app("", home.path());
    ASSERT_TRUE(app.waitFor([&] { return !watcher.items().empty(); })) << app.log();
    EXPECT_TRUE(logShows(app, kTray)) << app.log();

    auto connection = bus.connect();
    auto item = watcher.items().front();
    auto name = item.substr(0, item.find('/'));
    auto icon = sdbus::createProxy(*connection, name, item.substr(item.find('/')));
    auto menuPath = icon->getProperty("Menu").onInterface("org.kde.StatusNotifierItem").get<sdbus::ObjectPath>();
    auto menu = sdbus::createProxy(*connection, name, menuPath);
    auto shown = shownItems(*menu);
    auto pause =
        std::find_if(shown.begin(), shown.end(), [](const auto& line) { return line.second == "Pause control"; });
    ASSERT_NE(pause, shown.end()) << ::testing::PrintToString(shown);
    EXPECT_EQ(shown.back().second, "Quit Quintalis");
    menu->callMethod("Event")
        .onInterface("com.canonical.dbusmenu")
        .withArguments(pause->first, std::string("clicked"), sdbus::Variant(int32_t(0)), uint32_t(0));
    EXPECT_TRUE(app.waitFor([&] { return app.json(app.get("/status")).value("paused", false); }));
    EXPECT_TRUE(app.waitFor([&] {
        auto now = shownItems(*menu);
        return std::any_of(now.begin(), now.end(), [](const auto& line) {
            return line.second == "Control paused \u2014 your AI can look, not tap";
        });
    }));
    EXPECT_EQ(app.log().find("-CRITICAL"), std::string::npos) << app.log();
}

// Stock GNOME has no tray: the icon registers with nobody, or with a
// watcher that has no host to show it. The app must know, so that the
// window offers the menu's Pause and Quit.
TEST_F(DesktopAppTest, KnowsWhenTheDesktopShowsNoIcon) {
    {
        EngineProcess app("", home.path());
        EXPECT_TRUE(logShows(app, kNoTray)) << app.log();
    }
    FakeWatcher watcher(bus, false);
    EngineProcess app("", home.path());
    EXPECT_TRUE(logShows(app, kNoTray)) << app.log();
}

TEST_F(DesktopAppTest, SnapshotsEveryPageAndASecondLaunchOpensTheFirstCopysWindow) {
    std::filesystem::create_directories(home.path() / "quintalis");
    std::ofstream(home.path() / "quintalis/defaults.json") << R"({"step": 2})";
    auto shots = home.path() / "shots";
    EngineProcess app("", home.path(), {{"QUINTALIS_SNAPSHOT_DIR", shots.string()}});
    ASSERT_TRUE(logShows(app, "snapshots saved to " + shots.string())) << app.log();
    std::set<std::string> pages;
    for (int step = 0; step <= 6; ++step) {
        auto file = readFile(shots / ("live-0" + std::to_string(step) + ".png")).value_or("");
        auto picture = decodeImage(file);
        ASSERT_TRUE(picture) << step;
        EXPECT_EQ(picture->width(), 880);
        EXPECT_EQ(picture->height(), 680);
        pages.insert(file);
    }
    EXPECT_EQ(pages.size(), 7u) << "each page, not one page seven times";

    TempDir scratch;
    EXPECT_EQ(run("", scratch).status, 0);
    EXPECT_TRUE(logShows(app, "launched again: opening the setup window")) << app.log();
    // The page the user was on is back after the pictures.
    EXPECT_EQ(parseJSON(readFile(home.path() / "quintalis/defaults.json").value_or("{}")).value()["step"], 2);

    auto rendered = run("--render-steps " + (scratch.path() / "pages").string(), scratch);
    ASSERT_EQ(rendered.status, 0) << rendered.err;
    EXPECT_TRUE(decodeImage(readFile(scratch.path() / "pages/step-06.png").value_or("")));
    for (const char* bad : {"", "pages --image", "pages --image /nonexistent.jpg"}) {
        EXPECT_EQ(run(std::string("--render-steps ") + bad, scratch).status, 1) << bad;
    }
}

TEST_F(DesktopAppTest, HeadlessUnderADisplayNeverStartsTheToolkit) {
    EngineProcess app("", home.path(), {{"QUINTALIS_HEADLESS", "1"}});
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
        EngineProcess app("", home.path());
        EXPECT_TRUE(logShows(app, kTray)) << app.log();
        // GTK versions without the fault never say so.
        logShows(app, "status icon: GTK reported a harmless fault while the older tray embedded the icon", 5);
        EXPECT_EQ(app.log().find("-CRITICAL"), std::string::npos) << app.log();
    }
    ::kill(tray, SIGTERM);
    ::waitpid(tray, nullptr, 0);
}

}  // namespace
