#include "commands/control_commands.h"

#include "base/text.h"
#include "commands/command_line.h"
#include "mirror/windows.h"

namespace quintalis {
namespace {

// The numbers at args[0] to args[count - 1]; fails with `usage` when one is
// missing or is no number.
std::vector<double> numbers(const std::vector<std::string>& args, size_t count, const std::string& usage) {
    std::vector<double> values;
    for (size_t i = 0; i < count; ++i) {
        std::optional<double> value;
        if (i < args.size()) value = parseNumber(args[i]);
        if (!value) fail(usage);
        values.push_back(*value);
    }
    return values;
}

// Runs a gesture, failing with the reason when its events cannot be delivered.
template <typename Gesture>
void perform(Gesture gesture) {
    try {
        gesture();
    } catch (const SyntheticInputError& error) {
        fail(error.what());
    }
}

}  // namespace

void findCommand(WindowServer& windows) {
    auto window = findWindow(windows);
    if (!window) fail("iPhone Mirroring window not found (open the iPhone Mirroring app and unlock pairing once)");
    out(*window);
}

void clickCommand(const std::vector<std::string>& args, Deferred<DesktopControl> control) {
    auto at = numbers(args, 2, "usage: click <x> <y> [long]");
    perform([&] { control->click(at[0], at[1], args.size() > 2); });
}

void dragCommand(const std::vector<std::string>& args, Deferred<DesktopControl> control) {
    const std::string usage = "usage: drag <x0> <y0> <x1> <y1> [ms]";
    auto points = numbers(args, 4, usage);
    double ms = 300;
    if (args.size() > 4) ms = numbers({args[4]}, 1, usage)[0];
    if (ms > kLongestDragMs) fail("a drag takes at most " + std::to_string(static_cast<int>(kLongestDragMs)) + " ms");
    perform([&] { control->drag(points[0], points[1], points[2], points[3], ms); });
}

void typeCommand(const std::vector<std::string>& args, DesktopControl& control) {
    std::string text;
    for (size_t i = 0; i < args.size(); ++i) text += (i ? " " : "") + args[i];
    perform([&] { control.typeText(text); });
}

void keyCommand(const std::vector<std::string>& args, Deferred<DesktopControl> control) {
    if (args.empty()) fail("usage: key <name>, with modifiers before it: cmd+shift+a");
    perform([&] {
        if (!control->key(args[0])) fail("unknown key " + args[0]);
    });
}

void activateCommand() { fail("iPhone Mirroring isn't available on Linux"); }

void trustedCommand(SyntheticInput& input, WindowServer& windows, CaptureDevices& cameras) {
    out(JSON{{"accessibility", !input.unavailableReason()},
             {"screen", !windows.unavailableReason()},
             {"camera", cameras.authorizationStatus() == CaptureAuthorization::authorized}});
}

}  // namespace quintalis
