#include <gtest/gtest.h>

#include <gtkmm/adjustment.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/main.h>
#include <gtkmm/offscreenwindow.h>

#include <optional>

#include "app/ui/setup_view.h"
#include "app/ui/status_menu.h"
#include "base/read_file.h"
#include "imaging/codecs.h"
#include "platform/linux/posix_child_processes.h"
#include "support/desktop_session.h"
#include "support/fake_capture_devices.h"
#include "support/fake_clock.h"
#include "support/fake_desktop.h"
#include "support/fake_peripheral.h"
#include "support/fake_windows.h"
#include "support/manual_main_thread.h"
#include "support/stub_service.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

bool startToolkit() {
    static bool started = [] {
        // Never destroyed: GTK keeps its bus connection until the process ends.
        static auto* bus = new PrivateBus();
        joinDesktopSession(*bus);
        if (!gtk_init_check(nullptr, nullptr)) return false;
        Gtk::Main::init_gtkmm_internals();
        return true;
    }();
    return started;
}

void pump() {
    while (Gtk::Main::events_pending()) Gtk::Main::iteration(false);
}

// What a widget says: its label, or the texts of the labels inside it.
std::string textOf(Gtk::Widget& widget) {
    if (auto* label = dynamic_cast<Gtk::Label*>(&widget)) return label->get_text();
    std::string text;
    if (auto* container = dynamic_cast<Gtk::Container*>(&widget)) {
        for (auto* child : container->get_children()) {
            std::string inner = textOf(*child);
            if (!inner.empty()) text += (text.empty() ? "" : " ") + inner;
        }
    }
    return text;
}

// The first widget of type W whose text holds `text` (a rail entry also
// says its number, a card its subtitle).
template <typename W>
W* find(Gtk::Widget& root, const std::string& text) {
    if (auto* widget = dynamic_cast<W*>(&root); widget && textOf(*widget).find(text) != std::string::npos) {
        return widget;
    }
    if (auto* container = dynamic_cast<Gtk::Container*>(&root)) {
        for (auto* child : container->get_children()) {
            if (auto* found = find<W>(*child, text)) return found;
        }
    }
    return nullptr;
}

class SetupViewTest : public ::testing::Test, protected StubbedServices {
protected:
    void SetUp() override { ASSERT_TRUE(toolkit) << "no display on " << Xvfb::display(); }

    // Built on first use, so that a test can first choose the page it opens on.
    SetupView& view() {
        if (!view_) {
            view_.emplace(state, SetupContext{}, [this](SetupAction a) { forwarded.push_back(a); },
                          [this] { ++finished; });
            window.add(*view_);
            window.show_all();
            pump();
        }
        return *view_;
    }

    void click(const std::string& text) {
        auto* button = find<Gtk::Button>(view(), text);
        ASSERT_NE(button, nullptr) << "no button " << text << " in: " << textOf(view());
        button->clicked();
        pump();
    }
    bool showing(const std::string& text) { return textOf(view()).find(text) != std::string::npos; }

    // Return as the keyboard gives it, pressed and released on the window.
    void pressReturn() {
        GdkDisplay* display = gdk_display_get_default();
        for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
            GdkEvent* event = gdk_event_new(type);
            event->key.window = GDK_WINDOW(g_object_ref(window.get_window()->gobj()));
            event->key.keyval = GDK_KEY_Return;
            event->key.hardware_keycode = 36;
            event->key.time = GDK_CURRENT_TIME;
            gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
            gtk_main_do_event(event);
            gdk_event_free(event);
        }
        pump();
    }

    bool toolkit = startToolkit();  // first: the widgets below need GTK running
    FakePeripheralRole radio;
    FakeCaptureDevices cameras;
    FakeWindowServer windows;
    PosixChildProcesses processes;
    FakeClock clock;
    AIConnect ai{host, processes, clock, [] { return std::filesystem::path("/opt/quintalis/quintalis"); }};
    FakeLaunchAtLogin login;
    FakeAirPlayReceiver receiver;
    ManualMainThread main;
    AppState state{{engine, defaults, {radio, cameras, windows}, ai, login, receiver, main}};
    Gtk::OffscreenWindow window;
    std::vector<SetupAction> forwarded;
    int finished = 0;
    std::optional<SetupView> view_;
};

TEST_F(SetupViewTest, ClicksMoveThroughTheWizard) {
    click("Get started");
    EXPECT_EQ(state.values().step, 1);
    click("Back");
    EXPECT_EQ(state.values().step, 0);
    EXPECT_FALSE(find<Gtk::Button>(view(), "Back")) << "no bar on the welcome page";

    click("Get started");
    click("Skip for now");
    EXPECT_EQ(state.values().step, 2);
    click("No cable (AirPlay)");
    EXPECT_EQ(state.values().linkChoice, AppValues::Link::airplay);
    EXPECT_TRUE(showing("Waiting for Screen Mirroring"));
    click("Turn on AssistiveTouch");  // the rail entry
    click("AssistiveTouch is on");
    EXPECT_TRUE(state.values().assistiveTouchOn);
    EXPECT_TRUE(find<Gtk::Button>(view(), "Continue"));
    click("Try it");
    click("Take a look");
    EXPECT_EQ(forwarded, std::vector<SetupAction>{SetupAction::takeLook});

    // Without a tray the last page pauses and quits.
    view().context().statusIconShown = false;
    view().changed();
    pump();
    click("Pause control");
    EXPECT_TRUE(state.values().paused);
    click("Quit Quintalis");
    EXPECT_EQ(forwarded.back(), SetupAction::quit);
    click("Finish");
    EXPECT_TRUE(state.values().setupDone);
    EXPECT_EQ(finished, 1);
}

// At twice the scale on a 1920x1080 screen only 960x540 logical pixels are
// there: no page may ask for more than the window's least size, so the
// bottom bar stays in reach and the page scrolls.
TEST_F(SetupViewTest, EveryPageFitsTheLeastWindowSizeAndIsDrawnWhole) {
    for (int step = 0; step <= kSetupSteps; ++step) {
        state.setStep(step);
        view();
        pump();
        Gtk::Requisition least, natural;
        view().get_preferred_size(least, natural);
        EXPECT_LE(least.width, kSetupMinWidth) << "step " << step;
        EXPECT_LE(least.height, kSetupMinHeight) << "step " << step;
    }
    TempDir dir;
    ASSERT_TRUE(view().writePNG(dir.path() / "page.png"));
    auto picture = decodeImage(readFile(dir.path() / "page.png").value_or(""));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width(), kSetupMinWidth);
    EXPECT_EQ(picture->height(), kSetupMinHeight);
}

// A poll that changes what the page says must leave the user where they
// were: a whole new page would drop the focus, the selection and the scroll
// position each second and a half.
TEST_F(SetupViewTest, APollKeepsFocusSelectionAndScroll) {
    auto poll = [this](const std::string& bluetooth, bool permission) {
        engineService.answerJSON(R"({"app": "Quintalis", "bluetooth": ")" + bluetooth + "\"}");
        airplayService.answerJSON(std::string(R"({"ok": true, "candidates": [], "permission": )") +
                                           (permission ? "true}" : "false}"));
        bool done = false;
        state.refresh([&done] { done = true; });
        ASSERT_TRUE(main.runUntil([&done] { return done; }));
        pump();
    };
    state.setLinkChoice(AppValues::Link::airplay);
    state.setStep(2);
    poll("powered off", false);
    auto* text = find<Gtk::Label>(view(), "Your AI needs to see");
    ASSERT_TRUE(text);
    text->set_selectable(true);
    text->select_region(0, 9);
    auto scroll = view().scroller().get_vadjustment();
    ASSERT_GT(scroll->get_upper() - scroll->get_page_size(), 20);
    scroll->set_value(20);
    find<Gtk::Button>(view(), "Back")->grab_focus();
    pump();

    // The rail and the check rows change; the paragraph and the bar do not.
    const std::string before = textOf(view());
    poll("advertising as Desk", true);
    ASSERT_NE(textOf(view()), before);
    ASSERT_EQ(find<Gtk::Label>(view(), "Your AI needs to see"), text);
    int start = 0, end = 0;
    EXPECT_TRUE(text->get_selection_bounds(start, end));
    EXPECT_EQ(end - start, 9);
    EXPECT_EQ(scroll->get_value(), 20);
    EXPECT_EQ(window.get_focus(), find<Gtk::Button>(view(), "Back"));

    // Focus inside a part that changes goes to the same place in its successor.
    find<Gtk::Button>(view(), "Allow Bluetooth")->grab_focus();
    poll("powered off", true);
    ASSERT_NE(window.get_focus(), nullptr);
    EXPECT_NE(textOf(*window.get_focus()).find("Allow Bluetooth"), std::string::npos);
    EXPECT_EQ(scroll->get_value(), 20);

    click("Skip for now");
    EXPECT_EQ(view().scroller().get_vadjustment()->get_value(), 0) << "another page starts at its top";
}

// Return presses the page's one primary button, or the bar's forward
// button where the page has none: on arriving at each page, whatever had
// the focus before.
TEST_F(SetupViewTest, ReturnPressesThePagesDefaultButton) {
    view();
    pressReturn();
    EXPECT_EQ(state.values().step, 1) << "Get started";
    pressReturn();
    EXPECT_EQ(forwarded, std::vector<SetupAction>{SetupAction::allowBluetooth});
    state.setStep(2);
    pump();
    pressReturn();
    EXPECT_EQ(state.values().step, 3) << "Skip for now";
    pressReturn();
    EXPECT_EQ(forwarded.back(), SetupAction::openPairingWindow);
    state.setStep(6);
    pump();
    pressReturn();
    EXPECT_EQ(forwarded.back(), SetupAction::takeLook);
}

// The tray's pause and the model follow each other, without the item
// answering the model back.
TEST_F(SetupViewTest, TheMenusTogglesReachTheModel) {
    StatusMenu menu(state, "1.4", "/nonexistent", {[] {}, [] {}});
    pump();
    auto* pause = find<Gtk::CheckMenuItem>(menu.menu(), "Pause control");
    ASSERT_NE(pause, nullptr);
    pause->activate();
    EXPECT_TRUE(state.values().paused);
    state.setPaused(false);
    EXPECT_FALSE(pause->get_active());
    EXPECT_FALSE(state.values().paused);

    find<Gtk::CheckMenuItem>(menu.menu(), "Open at login")->activate();
    EXPECT_TRUE(login.isEnabled());
}

}  // namespace
