#include "commands/usb_commands.h"

#include <algorithm>
#include <atomic>

#include "base/phone_names.h"
#include "base/text.h"
#include "imaging/image_file.h"
#include "commands/command_line.h"
#include "commands/snap.h"
#include "commands/usb_screen.h"

namespace quintalis {
namespace {

constexpr double kDefaultTimeoutSeconds = 8;
constexpr double kDefaultListSeconds = 3;
constexpr int64_t kNoScaling = 100000;
constexpr int64_t kServeMaxDim = 1280;
// Waits for a first frame look this often, so a phone that answers at once
// is captured at once.
constexpr auto kFrameLookInterval = std::chrono::milliseconds(10);
std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> found;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string::npos) end = line.size();
        if (end > start) found.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return found;
}

// usb-serve's answer to one request other than "quit".
JSON serveRequest(const std::vector<std::string>& request, FrameSource& source, TextRecognizer& recognizer) {
    if (request[0] == "snap" && request.size() >= 2) {
        int64_t maxDim = kServeMaxDim;
        if (request.size() >= 3 && parseDecimal(request[2], maxDim) != DecimalParse::ok) maxDim = kServeMaxDim;
        const bool withOCR = request.size() >= 4 && request[3] == "1";
        return snap(source, request[1], maxDim, withOCR, recognizer);
    }
    if (request[0] == "info") {
        auto frame = source.latest();
        if (!frame) return JSON{{"ok", false}, {"error", "no frame yet"}};
        return JSON{{"ok", true},
                    {"device", source.name()},
                    {"id", source.id()},
                    {"fw", frame->picture->width()},
                    {"fh", frame->picture->height()}};
    }
    return JSON{{"ok", false}, {"error", "unknown command " + request[0]}};
}

}  // namespace

std::vector<CaptureDeviceInfo> iPhoneCaptureDevices(CaptureDevices& devices) {
    auto found = devices.discover();
    std::erase_if(found, [](const CaptureDeviceInfo& device) {
        return device.modelID.find("iOS") == std::string::npos || !device.connected;
    });
    return found;
}

std::optional<CaptureDeviceInfo> findIPhone(CaptureDevices& devices, Clock& clock, const std::optional<std::string>& id,
                                            Duration timeout) {
    devices.allowScreenCaptureDevices();
    std::vector<CaptureDeviceInfo> found;
    waitFor(clock, timeout, [&] {
        found = iPhoneCaptureDevices(devices);
        if (id) {
            found = phonesFitting(
                found, *id, [](const CaptureDeviceInfo& d) { return d.uniqueID; },
                [](const CaptureDeviceInfo& d) { return d.localizedName; });
        }
        return !found.empty();
    });
    if (found.empty()) return std::nullopt;
    // Capturing the first of several would show a phone the user may not mean.
    if (id && found.size() > 1) {
        std::string names;
        for (const auto& device : found) {
            names += (names.empty() ? "" : ", ") + device.localizedName + " (" + device.uniqueID + ")";
        }
        throw CommandFailure("device \"" + *id + "\" matches " + std::to_string(found.size()) +
                             " phones, pass more of its id: " + names);
    }
    return found.front();
}

bool ensureCameraAccess(CaptureDevices& devices, Clock& clock) {
    switch (devices.authorizationStatus()) {
        case CaptureAuthorization::authorized: return true;
        case CaptureAuthorization::denied:
        case CaptureAuthorization::restricted: return false;
        case CaptureAuthorization::notDetermined: break;
    }
    // The answer comes on another thread, perhaps after this wait gave up:
    // what it touches must outlive this call.
    struct Answer {
        std::atomic<bool> given{false};
        std::atomic<bool> granted{false};
    };
    auto answer = std::make_shared<Answer>();
    devices.requestAccess([answer](bool granted) {
        answer->granted = granted;
        answer->given = true;
    });
    waitFor(clock, std::chrono::seconds(60), [&] { return answer->given.load(); });
    return answer->given && answer->granted;
}

std::unique_ptr<FrameSource> openSource(const std::vector<std::string>& args, USBCommandBackends& backends) {
    if (auto path = option(args, "--image")) {
        try {
            return std::make_unique<StillSource>(*path, loadImage(*path));
        } catch (const ImageFileError& error) {
            throw CommandFailure(error.what());
        }
    }
    if (!ensureCameraAccess(backends.devices, backends.clock)) {
        throw CommandFailure(
            "camera access denied: add this user to the video group (sudo adduser $USER video) and log in again");
    }
    const Duration timeout = waitSeconds(option(args, "--timeout"), kDefaultTimeoutSeconds);
    auto device = findIPhone(backends.devices, backends.clock, option(args, "--device"), timeout);
    if (!device) {
        throw CommandFailure(
            "no iPhone screen found over USB: plug it in with a data cable, unlock it and tap Trust (then retry)");
    }
    std::unique_ptr<USBScreen> screen;
    try {
        screen = std::make_unique<USBScreen>(*device, backends.devices, backends.clock);
    } catch (const CaptureStartError& error) {
        throw CommandFailure(error.what());  // it names the phone already
    }
    // Without a first frame in time the screen is still returned: a snapshot
    // then says there is no frame yet.
    waitFor(backends.clock, timeout, [&] { return screen->latest().has_value(); }, kFrameLookInterval);
    return screen;
}

void usbListCommand(const std::vector<std::string>& args, USBCommandBackends& backends) {
    const Duration timeout = waitSeconds(args.empty() ? std::nullopt : std::optional(args[0]), kDefaultListSeconds);
    backends.devices.allowScreenCaptureDevices();
    waitFor(backends.clock, timeout, [&] { return !iPhoneCaptureDevices(backends.devices).empty(); });
    JSON list = JSON::array();
    for (const auto& device : iPhoneCaptureDevices(backends.devices)) {
        list.push_back(JSON{{"id", device.uniqueID}, {"name", device.localizedName}, {"model", device.modelID}});
    }
    out(list);
}

int usbCaptureCommand(const std::vector<std::string>& args, Deferred<USBCommandBackends> backends) {
    if (args.empty() || args[0].starts_with("--")) {
        fail("usage: usb-capture <out.png|.jpg> [--device ID] [--max N] [--ocr] [--timeout S]");
    }
    std::unique_ptr<FrameSource> source = openSource(args, *backends);
    int64_t maxDim = kNoScaling;
    if (auto text = option(args, "--max"); !text || parseDecimal(*text, maxDim) != DecimalParse::ok) maxDim = kNoScaling;
    const bool withOCR = std::find(args.begin(), args.end(), "--ocr") != args.end();
    auto result = snap(*source, args[0], maxDim, withOCR, backends->text);
    out(result);
    return result["ok"] == true ? 0 : 1;
}

int usbServeCommand(const std::vector<std::string>& args, USBCommandBackends& backends, std::istream& input) {
    std::unique_ptr<FrameSource> source = openSource(args, backends);
    out(JSON{{"ok", true}, {"event", "ready"}, {"device", source->name()}, {"id", source->id()}});
    std::string line;
    while (std::getline(input, line)) {
        if (line.ends_with('\r')) line.pop_back();
        auto request = words(line);
        if (request.empty()) continue;
        if (request[0] == "quit") break;
        out(serveRequest(request, *source, backends.text));
    }
    return 0;
}

}  // namespace quintalis
