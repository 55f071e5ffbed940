#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/linux/xcb_window_server.h"
#include "support/test_window.h"
#include "support/xvfb.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

class XcbWindowServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Xvfb::display().empty()) << "Xvfb did not start";
        x = XConnection::open(Xvfb::display());
        ASSERT_TRUE(x);
    }

    // Our windows in listing order, by number.
    std::vector<WindowDescription> listed(const std::vector<const TestWindow*>& ours, bool onScreenOnly = false) {
        auto all = onScreenOnly ? server.onScreenWindows() : server.windows();
        std::erase_if(all, [&](const WindowDescription& w) {
            return std::none_of(ours.begin(), ours.end(), [&](const TestWindow* t) { return t->number() == w.number; });
        });
        return all;
    }

    std::shared_ptr<XConnection> x;
    XDisplayLink link{Xvfb::display()};
    XcbWindowServer server{link};
};

TEST_F(XcbWindowServerTest, ListsWindowsFrontToBackWithTheirRecords) {
    TestWindow alpha(*x, 10, 20, 300, 400);
    alpha.setTitle("Alpha ✓");
    alpha.setLegacyTitle("not this one");
    alpha.setClass("alpha", "Alpha-App");
    TestWindow beta(*x, 50, 60, 200, 150);
    beta.setLegacyTitle("Caf\xe9 No\xebl");  // STRING is Latin-1
    beta.setStates({"_NET_WM_STATE_STICKY", "_NET_WM_STATE_ABOVE"});
    TestWindow hidden(*x, 0, 0, 120, 130, false);
    hidden.setStates({"_NET_WM_STATE_BELOW"});

    auto windows = listed({&alpha, &beta, &hidden});
    ASSERT_EQ(windows.size(), 3u);
    // Made last is on top; the unmapped one is listed all the same.
    EXPECT_EQ(windows[0].number, hidden.number());
    EXPECT_EQ(windows[1].number, beta.number());
    EXPECT_EQ(windows[2].number, alpha.number());

    const auto& a = windows[2];
    EXPECT_EQ(a.title, "Alpha ✓");
    EXPECT_EQ(a.bundle, "Alpha-App");
    EXPECT_EQ(a.pid, getpid());
    // The whole name of this test program, longer than the kernel's 15 characters.
    EXPECT_EQ(a.owner, std::filesystem::read_symlink("/proc/self/exe").filename().string());
    EXPECT_EQ((std::vector<double>{a.x, a.y, a.width, a.height}), (std::vector<double>{10, 20, 300, 400}));
    EXPECT_EQ(windows[1].title, "Café Noël");
    EXPECT_EQ((std::vector<int>{windows[0].layer, windows[1].layer, a.layer}), (std::vector<int>{-1, 1, 0}));

    alpha.raise();
    windows = listed({&alpha, &beta, &hidden}, true);
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].number, alpha.number());
    EXPECT_EQ(windows[1].number, beta.number());
}

TEST_F(XcbWindowServerTest, UnderAFrameTheClientWindowIsListedAtItsPlaceOnScreen) {
    // What a reparenting window manager makes: a frame with a title bar, the
    // client inside it carrying WM_STATE.
    TestWindow frame(*x, 100, 100, 320, 260);
    const xcb_window_t client = xcb_generate_id(x->get());
    xcb_create_window(x->get(), XCB_COPY_FROM_PARENT, client, frame.number(), 10, 30, 300, 220, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, x->screen().root_visual, 0, nullptr);
    const uint32_t normal[] = {1, 0};
    xcb_change_property(x->get(), XCB_PROP_MODE_REPLACE, client, x->atom("WM_STATE"), x->atom("WM_STATE"), 32, 2,
                        normal);
    xcb_change_property(x->get(), XCB_PROP_MODE_REPLACE, client, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 6, "client");
    xcb_map_window(x->get(), client);
    frame.sync();

    auto windows = server.windows();
    auto found = std::find_if(windows.begin(), windows.end(), [&](const auto& w) { return w.number == client; });
    ASSERT_NE(found, windows.end());
    EXPECT_EQ(found->title, "client");
    EXPECT_EQ((std::vector<double>{found->x, found->y, found->width, found->height}),
              (std::vector<double>{110, 130, 300, 220}));
    EXPECT_TRUE(found->onScreen);
    EXPECT_TRUE(std::none_of(windows.begin(), windows.end(), [&](const auto& w) { return w.number == frame.number(); }));
}

TEST(XcbWindowServerWithoutDisplay, ListsNothingAndSaysWhy) {
    XDisplayLink nowhere(":4242");
    XcbWindowServer server(nowhere);
    EXPECT_EQ(server.unavailableReason(), "cannot open display :4242");
    EXPECT_TRUE(server.windows().empty());
}

}  // namespace
