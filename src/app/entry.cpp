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
#include "app/services.h"
#include "app/stop_watchdog.h"
#include "app/udev_rule_command.h"
#include "app/desktop_app.h"
#include "app/render_steps.h"
#include "base/app_log.h"
#include "base/exit_process.h"
#include "base/log.h"
#include "base/thread_name.h"
#include "base/user_error.h"
#include "engine/app_info.h"
#include "engine/engine.h"
#include "commands/airplay_commands.h"
#include "commands/control_commands.h"
#include "commands/mirror_command.h"
#include "commands/usb_commands.h"

namespace quintalis {
namespace {

// SIGINT and SIGTERM are taken by one thread with sigwait, which hands the
// one received to `handle`, so the process ends cleanly instead of being
// interrupted wherever it is. Threads inherit the signal mask, so this must
// run before any other thread starts.
void onStopSignals(std::function<void(int)> handle) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals, handle = std::move(handle)] {
        nameCurrentThread("quintalis.signals");
        int received = 0;
        sigwait(&signals, &received);
        handle(received);
    }).detach();
}

// The headless app ends its main run loop.
void stopMainLoopOnSignals(MainRunLoop& loop) {
    onStopSignals([&loop](int received) {
        log(std::string("quitting on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
        loop.stop();
    });
}

// A command holding a phone's capture stops the services on SIGINT or
// SIGTERM, which restores the phone, and ends with the signal's status.
void exitOnSignals(Services& services) {
    onStopSignals([&services](int received) {
        exitProcess(stopThenEnd(services, received == SIGINT ? 130 : 143, Services::StopLog::silent));
    });
}

int runApp(Services& services) {
    stopMainLoopOnSignals(services.mainLoop());
    setLogFile(services.appLog());
    int status = 0;
    services.mainLoop().post([&services, &status] {
        log("Quintalis " + services.appInfo().version() + " starting headless");
        auto& engine = services.engine();
        engine.start(Engine::WhenServedElsewhere::leave);
        // Another engine already drives the phones; a second headless one would only sit idle.
        if (engine.mode().kind == Engine::Mode::Kind::external) {
            status = 1;
            services.mainLoop().stop();
        }
    });
    services.mainLoop().run();
    return status;
}

// Runs the command named by arguments[1] and returns its status. A word it
// does not know is a mistyped (or newer) command, not a wish for a second
// copy of the app: it ends with the list of commands and status 2. A
// command that fails for a reason the user should read throws it; that
// reason is the last line on standard error, and the status is 1.
int runCommand(const std::vector<std::string>& arguments, Services& services) {
    using Command = std::function<int(const std::vector<std::string>&)>;
    // Most commands either do their work or throw; the rest return a status of their own.
    auto succeeds = [](std::function<void(const std::vector<std::string>&)> run) -> Command {
        return [run = std::move(run)](const std::vector<std::string>& args) {
            run(args);
            return 0;
        };
    };
    // Commands that may not need what they name build it only when they do.
    Deferred<CaptureBackends> capture([&services]() -> CaptureBackends& { return services.capture(); });
    Deferred<TextRecognizer> text([&services]() -> TextRecognizer& { return services.devices().text; });
    Deferred<DesktopControl> desktop([&services]() -> DesktopControl& { return services.desktopControl(); });
    Deferred<USBCommandBackends> usb([&services]() -> USBCommandBackends& { return services.usbCommands(); });
    auto usbServe = [&](const std::vector<std::string>& args) {
        exitOnSignals(services);
        return usbServeCommand(args, services.usbCommands(), std::cin);
    };
    const std::map<std::string, Command> commands{
        {"airplay-list", succeeds([&](const auto& args) { airplayListCommand(args, services.capture()); })},
        {"airplay-capture", [&](const auto& args) { return airplayCaptureCommand(args, capture, text); }},
        {"airplay-serve", [&](const auto& args) { return airplayServeCommand(args, services); }},
        {"capture-latency", succeeds([&](const auto& args) { captureLatencyCommand(args, services.capture()); })},
        {"ocr", succeeds([&](const auto& args) { ocrCommand(args, text); })},
        {"detect-rect", succeeds(detectRectCommand)},
        // The iPhone Mirroring window and synthetic input to the desktop.
        {"find", succeeds([&](const auto&) { findCommand(services.devices().windows); })},
        {"click", succeeds([&](const auto& args) { clickCommand(args, desktop); })},
        {"drag", succeeds([&](const auto& args) { dragCommand(args, desktop); })},
        {"type", succeeds([&](const auto& args) { typeCommand(args, services.desktopControl()); })},
        {"key", succeeds([&](const auto& args) { keyCommand(args, desktop); })},
        {"activate", succeeds([](const auto&) { activateCommand(); })},
        {"trusted", succeeds([&](const auto&) {
             auto& backends = services.devices();
             trustedCommand(backends.input, backends.windows, backends.capture);
         })},
        // Phones on USB.
        {"usb-list", succeeds([&](const auto& args) { usbListCommand(args, services.usbCommands()); })},
        {"usb-capture",
         [&](const auto& args) {
             exitOnSignals(services);
             return usbCaptureCommand(args, usb);
         }},
        {"usb-serve", usbServe},
        {"serve", usbServe},
        {"install-udev-rule", succeeds(installUdevRuleCommand)},
        // The phone tools for AI clients, over standard input and output.
        {"mcp", succeeds([&](const auto& args) { mcpCommand(args, services); })},
        // Lets a phone pair with the running Quintalis.
        {"pair", succeeds([&](const auto& args) { pairCommand(args, services.platform().host); })},
    };
    auto found = commands.find(arguments[1]);
    if (found == commands.end()) {
        std::string known;
        for (const auto& [name, command] : commands) known += " " + name;
        std::cerr << "unknown command: " << arguments[1] << "\ncommands:" << known << "\n";
        return 2;
    }
    setLogFile(services.appLog());
    int status = 1;
    std::string failure;
    try {
        status = found->second(std::vector<std::string>(arguments.begin() + 2, arguments.end()));
    } catch (const UserError& error) {
        failure = error.what();
    }
    // The phones go back before the reason is given, so it is the last word.
    stopThenEnd(services, status, Services::StopLog::silent);
    if (!failure.empty()) {
        std::cout << std::flush;
        std::cerr << failure << "\n" << std::flush;
    }
    return status;
}

}  // namespace

int runEntry(const std::vector<std::string>& arguments) {
    // Stopped, never destroyed: work queued earlier may reach it until the process ends.
    Services& services = *new Services();
    const std::string first = arguments.size() > 1 ? arguments[1] : "";
    if (first == "--version") {
        std::cout << "Quintalis " << services.appInfo().version() << "\n";
        return 0;
    }
    if (first == "--render-steps") {
        return renderSteps(std::vector<std::string>(arguments.begin() + 2, arguments.end()), services);
    }
    if (!first.empty() && first[0] != '-') return runCommand(arguments, services);
    if (desktopSession(services.platform().host)) {
        setLogFile(services.appLog());
        return stopThenEnd(services, runDesktopApp(services));
    }
    return stopThenEnd(services, runApp(services));
}

}  // namespace quintalis
