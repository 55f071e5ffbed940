#include "app/render_steps.h"

#include <cstdio>
#include <iostream>

#include <gtkmm/main.h>
#include <gtkmm/offscreenwindow.h>

#include "app/model/ai_connect.h"
#include "app/model/app_state.h"
#include "app/services.h"
#include "app/ui/setup_view.h"
#include "engine/app_info.h"
#include "imaging/image_file.h"

namespace quintalis {
namespace {

constexpr const char* kUsage = "usage: QuintalisApp --render-steps <dir> [--image phone.jpg]\n";

// A plain phone screen for when no picture was given: a status bar, a title
// bar and rows of a list.
PixelBufferRef samplePicture() {
    auto picture = std::make_shared<PixelBuffer>(390, 844);
    for (int y = 0; y < picture->height(); ++y) {
        uint8_t* row = picture->mutableRow(y);
        bool bar = y < 100;
        bool divider = y > 140 && (y - 140) % 56 == 0;
        for (int x = 0; x < picture->width(); ++x) {
            uint8_t shade = bar ? 246 : divider ? 210 : 255;
            row[4 * x] = shade;
            row[4 * x + 1] = shade;
            row[4 * x + 2] = shade;
            row[4 * x + 3] = 255;
        }
    }
    return picture;
}

void settle(Gtk::OffscreenWindow& window) {
    window.check_resize();
    while (Gtk::Main::events_pending()) Gtk::Main::iteration(false);
}

}  // namespace

AppValues demoValues(const std::string& computerName) {
    AppValues values;
    values.engineUp = true;
    values.bluetoothState = "1 connected, advertising as " + computerName;
    values.hosts = {"demo-host"};
    values.airplayUp = true;
    values.airplayWindow = "UxPlay";
    values.airplayCandidates = 1;
    values.airplayReceiverOn = true;
    values.bluetoothPerm = AppValues::Perm::granted;
    values.screenPerm = AppValues::Perm::granted;
    values.linkChoice = AppValues::Link::airplay;
    values.assistiveTouchOn = true;
    values.claudePath = "/usr/local/bin/claude";
    values.claudeCodeAdded = true;
    return values;
}

TryIt::Result demoLook(PixelBufferRef picture) {
    TryIt::Result look;
    look.source = "AirPlay";
    look.pixels = std::to_string(picture->width()) + "\u00d7" + std::to_string(picture->height());
    look.lines = {"Settings", "General", "Accessibility", "Privacy & Security"};
    look.image = std::move(picture);
    return look;
}

int renderSteps(const std::vector<std::string>& arguments, Services& services) {
    std::optional<std::filesystem::path> image;
    bool usable = arguments.size() == 1 || (arguments.size() == 3 && arguments[1] == "--image");
    if (!usable || arguments[0].empty() || arguments[0][0] == '-') {
        std::cerr << kUsage;
        return 1;
    }
    if (arguments.size() == 3) image = arguments[2];
    const std::filesystem::path dir = arguments[0];

    PixelBufferRef picture = samplePicture();
    if (image) {
        try {
            picture = std::make_shared<PixelBuffer>(loadImage(*image));
        } catch (const ImageFileError&) {
            std::cerr << "render-steps: can't read " << image->string() << " as a picture\n";
            return 1;
        }
    }
    if (!desktopSession(services.platform().host) || !gtk_init_check(nullptr, nullptr)) {
        std::cerr << "render-steps: drawing needs a display (DISPLAY), and QUINTALIS_HEADLESS unset\n";
        return 1;
    }
    Gtk::Main::init_gtkmm_internals();
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        std::cerr << "render-steps: can't make " << dir.string() << ": " << error.message() << "\n";
        return 1;
    }

    auto& state = services.appState();
    SetupContext context;
    context.computerName = services.platform().host.computerName().value_or("this computer");
    context.version = services.appInfo().version();
    context.codexSnippet = services.aiConnect().codexSnippet();
    context.look = demoLook(picture);
    AppValues values = demoValues(context.computerName);
    state.showDemo(values, context.look);

    Gtk::OffscreenWindow window;
    SetupView view(state, context, [](SetupAction) {}, [] {});
    view.set_size_request(kSetupWidth, kSetupHeight);  // the pictures show the window at its own size
    if (image) view.setPhonePicture(surfaceFrom(*picture));
    window.add(view);
    window.show_all();
    for (int step = 0; step <= kSetupSteps; ++step) {
        values.step = step;
        state.showDemo(values, context.look);
        view.rebuildNow();
        settle(window);
        char name[32];
        std::snprintf(name, sizeof name, "step-%02d.png", step);
        if (!view.writePNG(dir / name)) {
            std::cerr << "render-steps: can't write " << (dir / name).string() << "\n";
            return 1;
        }
    }
    std::cout << "rendered " << kSetupSteps + 1 << " pages into " << dir.string() << "\n";
    return 0;
}

}  // namespace quintalis
