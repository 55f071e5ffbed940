#include "commands/airplay_commands.h"

#include <algorithm>
#include <climits>

#include "base/atomic_file.h"
#include "base/text.h"
#include "commands/command_line.h"
#include "mirror/render_frame.h"
#include "mirror/screen_permission.h"

namespace quintalis {
namespace {

const char* const kNoWindowAdvice =
    "no AirPlay mirroring window: on the iPhone open Control Center \u203a Screen Mirroring \u203a this computer "
    "(an AirPlay receiver such as UxPlay must be running)";

bool hasFlag(const std::vector<std::string>& args, const std::string& name) {
    return std::find(args.begin(), args.end(), name) != args.end();
}

// The capture a command works on: the chosen window, started, with its
// first frame if one came within --timeout seconds.
std::unique_ptr<WindowCapture> openCapture(const std::vector<std::string>& args, CaptureBackends& backends) {
    if (auto refusal = screenCaptureRefusal(backends)) fail(*refusal);
    auto window = pickWindow(backends.windows, option(args, "--window"), backends.environment);
    if (!window) fail(kNoWindowAdvice);
    if (!window->window.onScreen) fail(kAirPlayWindowHidden);
    auto capture = std::make_unique<WindowCapture>(*window, backends);
    try {
        capture->start();
    } catch (const CaptureError& error) {
        fail("cannot capture window " + std::to_string(window->window.number) + " (" + window->window.owner +
             "): " + error.what());
    }
    capture->waitForFrame(waitSeconds(option(args, "--timeout"), 5));
    return capture;
}

}  // namespace

void airplayListCommand(const std::vector<std::string>& args, CaptureBackends& backends) {
    JSON windows = JSON::array();
    if (hasFlag(args, "--all")) {
        for (auto& window : allWindows(backends.windows)) {
            if (window.width < 100 || window.height < 100) continue;
            const int score = airplayScore(window, backends.environment);
            windows.push_back(WinInfo{std::move(window), score}.json());
        }
    } else {
        for (const auto& candidate : airplayCandidates(backends.windows.windows(), backends.environment)) {
            windows.push_back(candidate.json());
        }
    }
    JSON listed{{"permission", true}, {"windows", std::move(windows)}};
    if (auto refusal = screenCaptureRefusal(backends)) {
        listed["permission"] = false;
        listed["error"] = *refusal;
    }
    out(listed);
}

int airplayCaptureCommand(const std::vector<std::string>& args, Deferred<CaptureBackends> backends,
                          Deferred<TextRecognizer> recognizer) {
    if (args.empty() || args[0].starts_with("--")) {
        fail("usage: airplay-capture <out.png|.jpg> [--window ID] [--max N] [--ocr] [--no-crop]");
    }
    const std::string& path = args[0];
    RenderOptions options;
    options.maxDim = 100000;  // no scaling, in practice
    if (auto text = option(args, "--max")) {
        int64_t max = 0;
        if (parseDecimal(*text, max) == DecimalParse::ok) {
            if (max < 1) fail("--max must be a positive number");
            options.maxDim = static_cast<int>(std::min<int64_t>(max, INT_MAX));
        }
    }
    options.png = asciiLowercase(path).ends_with(".png");
    options.crop = !hasFlag(args, "--no-crop");
    options.withOCR = hasFlag(args, "--ocr");

    auto capture = openCapture(args, *backends);
    RenderedFrame rendered = renderFrame(*capture, options, *recognizer);
    capture->stop();
    bool ok = rendered.result.value("ok", false) == true;
    // A picture that did not reach its file is no success, whatever was rendered.
    if (ok && !writeFileAtomically(path, rendered.data)) {
        rendered.result["ok"] = false;
        rendered.result["error"] = "cannot write " + path;
        ok = false;
    }
    out(rendered.result);
    return ok ? 0 : 1;
}

void captureLatencyCommand(const std::vector<std::string>& args, CaptureBackends& backends) {
    auto capture = openCapture(args, backends);
    const int64_t start = backends.clock.wallMillis();
    // Frames arrive on the capture's own queue meanwhile.
    backends.clock.sleep(waitSeconds(option(args, "--seconds"), 10));
    JSON changes = JSON::array();
    for (int64_t time : capture->changeTimes(start)) changes.push_back(time - start);
    auto latest = capture->latest();
    const WinInfo window = capture->info();
    capture->stop();
    out(JSON{{"window", window.json()}, {"frames", latest ? latest->frames : 0}, {"changes", std::move(changes)}});
}

}  // namespace quintalis
