#include "app/entry.h"

#include <csignal>
#include <functional>
#include <iostream>
#include <map>
#include <pthread.h>
#include <thread>

#include "app/airplay_serve_command.h"
#include "app/mcp_command.h"
#include "app/pair_command.h"
#include "app/select_backends.h"
#include "app/udev_rule_command.h"
#include "app/desktop_app.h"
#include "app/render_steps.h"
#include "base/app_log.h"
#include "base/exit_process.h"
#include "base/log.h"
#include "base/main_run_loop.h"
#include "base/thread_name.h"
#include "engine/app_info.h"
#include "engine/engine.h"
#include "commands/airplay_commands.h"
#include "commands/control_commands.h"
#include "commands/mirror_command.h"
#include "commands/usb_commands.h"

namespace quintalis {
namespace {

// SIGINT and SIGTERM are taken by one thread with sigwait, so the main run
// loop can end cleanly instead of being interrupted wherever it is. Threads
// inherit the signal mask, so this must run before any other thread starts.
void stopMainLoopOnSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        nameCurrentThread("quintalis.signals");
        int received = 0;
        sigwait(&signals, &received);
        log(std::string("quitting on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
        MainRunLoop::shared().stop();
    }).detach();
}

// A command holding a phone's capture ends through exitProcess on SIGINT or
// SIGTERM, so the phone is restored on the way out.
void exitOnSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        nameCurrentThread("quintalis.signals");
        int received = 0;
        sigwait(&signals, &received);
        exitProcess(received == SIGINT ? 130 : 143);
    }).detach();
}

int runApp() {
    stopMainLoopOnSignals();
    setLogFile(AppLog::shared());
    MainRunLoop::shared().post([] {
        log("Quintalis " + AppInfo::shared().version() + " starting headless");
        auto& engine = Engine::shared();
        engine.start(Engine::WhenServedElsewhere::leave);
        // Another engine already drives the phones; a second headless one would only sit idle.
        if (engine.mode().kind == Engine::Mode::Kind::external) exitProcess(1);
    });
    MainRunLoop::shared().run();
    return 0;
}

// The text recognizer of the selected backends, for commands that defer it.
TextRecognizer& text() { return DeviceBackends::selected().text; }

// Runs the command named by arguments[1]. A word it does not know is a
// mistyped (or newer) command, not a wish for a second copy of the app: it
// ends with the list of commands and status 2.
int runCommand(const std::vector<std::string>& arguments) {
    using Command = std::function<void(const std::vector<std::string>&)>;
    static const std::map<std::string, Command> commands{
        {"airplay-list", [](const auto& args) { airplayListCommand(args, CaptureBackends::shared()); }},
        {"airplay-capture",
         [](const auto& args) {
             airplayCaptureCommand(args, Deferred<CaptureBackends>(&CaptureBackends::shared),
                                   Deferred<TextRecognizer>(text));
         }},
        {"airplay-serve", airplayServeCommand},
        {"capture-latency", [](const auto& args) { captureLatencyCommand(args, CaptureBackends::shared()); }},
        {"ocr", [](const auto& args) { ocrCommand(args, Deferred<TextRecognizer>(text)); }},
        {"detect-rect", detectRectCommand},
        // The iPhone Mirroring window and synthetic input to the desktop.
        {"find", [](const auto&) { findCommand(DeviceBackends::selected().windows); }},
        {"click", [](const auto& args) { clickCommand(args, Deferred<DesktopControl>(&DesktopControl::shared)); }},
        {"drag", [](const auto& args) { dragCommand(args, Deferred<DesktopControl>(&DesktopControl::shared)); }},
        {"type", [](const auto& args) { typeCommand(args, DesktopControl::shared()); }},
        {"key", [](const auto& args) { keyCommand(args, Deferred<DesktopControl>(&DesktopControl::shared)); }},
        {"activate", [](const auto&) { activateCommand(); }},
        {"trusted", [](const auto&) {
             auto& backends = DeviceBackends::selected();
             trustedCommand(backends.input, backends.windows, backends.capture);
         }},
        // Phones on USB.
        {"usb-list", [](const auto& args) { usbListCommand(args, USBCommandBackends::shared()); }},
        {"usb-capture",
         [](const auto& args) {
             exitOnSignals();
             usbCaptureCommand(args, Deferred<USBCommandBackends>(&USBCommandBackends::shared));
         }},
        {"usb-serve",
         [](const auto& args) {
             exitOnSignals();
             usbServeCommand(args, USBCommandBackends::shared(), std::cin);
         }},
        {"serve",
         [](const auto& args) {
             exitOnSignals();
             usbServeCommand(args, USBCommandBackends::shared(), std::cin);
         }},
        {"install-udev-rule", installUdevRuleCommand},
        // The phone tools for AI clients, over standard input and output.
        {"mcp", mcpCommand},
        // Lets a phone pair with the running Quintalis.
        {"pair", pairCommand},
    };
    auto found = commands.find(arguments[1]);
    if (found == commands.end()) {
        std::string known;
        for (const auto& [name, command] : commands) known += " " + name;
        std::cerr << "unknown command: " << arguments[1] << "\ncommands:" << known << "\n";
        return 2;
    }
    setLogFile(AppLog::shared());
    found->second(std::vector<std::string>(arguments.begin() + 2, arguments.end()));
    return 0;
}

}  // namespace

void quitApp() {
    if (!quitDesktopApp()) MainRunLoop::shared().stop();
}

int runEntry(const std::vector<std::string>& arguments) {
    const std::string first = arguments.size() > 1 ? arguments[1] : "";
    if (first == "--version") {
        std::cout << "Quintalis " << AppInfo::shared().version() << "\n";
        return 0;
    }
    if (first == "--render-steps") return renderSteps(std::vector<std::string>(arguments.begin() + 2, arguments.end()));
    if (!first.empty() && first[0] != '-') return runCommand(arguments);
    if (desktopSession()) {
        setLogFile(AppLog::shared());
        return runDesktopApp();
    }
    return runApp();
}

}  // namespace quintalis
