#include "app/setup_actions.h"

#include "app/model/ai_connect.h"
#include "app/model/app_state.h"
#include "app/model/installer.h"
#include "app/model/other_engines.h"
#include "app/model/try_it.h"
#include "app/pair_command.h"
#include "app/services.h"
#include "base/clock.h"
#include "engine/engine.h"
#include "engine/who_answers.h"

namespace quintalis {

SetupActions::SetupActions(Services& services, Clipboard& clipboard, std::function<SetupContext&()> context,
                           std::function<void()> changed)
    : services_(services), clipboard_(clipboard), context_(std::move(context)), changed_(std::move(changed)) {}

SetupActions::~SetupActions() { alive_.end(); }

// The work holds nothing of these actions: it may outlive them. Its result
// comes back on the main thread, where they are destroyed, so the watch
// answers for the whole of `apply`.
void SetupActions::offMain(std::function<std::string()> work, std::function<void(SetupContext&, std::string)> apply) {
    services_.appState().runBlocking([this, watch = alive_.watch(), work = std::move(work),
                                      apply = std::move(apply)]() -> Task {
        std::string result = work();
        return [this, watch, apply, result] {
            if (!watch.alive()) return;
            apply(context_(), result);
            changed_();
        };
    });
}

void SetupActions::operator()(SetupAction action) {
    SetupContext& context = context_();
    switch (action) {
        case SetupAction::install: install(context); return;
        case SetupAction::switchEngines: switchEngines(); return;
        case SetupAction::allowBluetooth:
            services_.appState().setBluetoothRequested(true);
            services_.engine().startBluetooth();
            services_.appState().refresh();
            return;
        case SetupAction::openBluetoothSettings: openBluetoothSettings(); return;
        case SetupAction::startAirPlayReceiver:
            context.airplayMessage = services_.receiverKeeper().startNow().message();
            services_.appState().refresh();
            break;
        case SetupAction::addClaudeCode: addClaudeCode(context); return;
        case SetupAction::copyClaudeCommand:
            clipboard_.copy(services_.aiConnect().claudeCodeCommand());
            context.copiedClaudeCommand = true;
            break;
        case SetupAction::addClaudeDesktop: addClaudeDesktop(context); return;
        case SetupAction::copyClaudeDesktop:
            clipboard_.copy(context.claudeDesktopSnippet);
            context.copiedClaudeDesktop = true;
            break;
        case SetupAction::copyCodex:
            clipboard_.copy(services_.aiConnect().codexSnippet());
            context.copiedCodex = true;
            break;
        case SetupAction::takeLook: takeLook(); return;
        case SetupAction::openPairingWindow: openPairingWindow(); return;
        default: return;
    }
    changed_();
}

void SetupActions::install(SetupContext& context) {
    if (!beginAction(context, SetupAction::install)) return;
    changed_();
    offMain([&installer = services_.installer()] { return installer.moveToApplications().message(); },
            [](SetupContext& shown, std::string message) {
                endAction(shown, SetupAction::install);
                shown.installMessage = message;
            });
}

void SetupActions::openBluetoothSettings() {
    offMain(
        [&settings = services_.desktop().settings] {
            return settings.openBluetooth()
                       ? std::string()
                       : std::string("No Bluetooth settings were found on this desktop. Install blueman "
                                     "(sudo apt install blueman), or turn Bluetooth on in a terminal: "
                                     "bluetoothctl power on");
        },
        [](SetupContext& shown, std::string message) { shown.bluetoothMessage = message; });
}

void SetupActions::addClaudeCode(SetupContext& context) {
    auto claude = services_.appState().values().claudePath;
    // Two runs of claude at once would each rewrite its settings file.
    if (!claude || !beginAction(context, SetupAction::addClaudeCode)) return;
    changed_();
    offMain([claude, &ai = services_.aiConnect()] { return ai.addToClaudeCode(*claude).message; },
            [this](SetupContext& shown, std::string message) {
                endAction(shown, SetupAction::addClaudeCode);
                shown.claudeCodeMessage = message;
                services_.appState().refresh();
            });
}

void SetupActions::addClaudeDesktop(SetupContext& context) {
    if (!beginAction(context, SetupAction::addClaudeDesktop)) return;
    changed_();
    // Written on the worker before its result is posted to the main thread.
    auto snippet = std::make_shared<std::string>();
    offMain(
        [snippet, &ai = services_.aiConnect()] {
            auto result = ai.addToClaudeDesktop();
            *snippet = result.snippet;
            return result.message;
        },
        [this, snippet](SetupContext& shown, std::string message) {
            endAction(shown, SetupAction::addClaudeDesktop);
            shown.claudeDesktopMessage = message;
            shown.claudeDesktopSnippet = *snippet;
            shown.copiedClaudeDesktop = false;
            services_.appState().refresh();
        });
}

void SetupActions::openPairingWindow() {
    // Written on the worker before its result is posted to the main thread.
    auto alias = std::make_shared<std::string>();
    offMain(
        [alias, &host = services_.platform().host] {
            auto result = requestPairingWindow(host, std::nullopt);
            if (!result.answer) return result.error;
            *alias = result.answer->value("shownAs", std::string());
            return "Pairing is open for " + std::to_string(result.answer->value("pairing", 0)) +
                   " seconds: tap " + result.answer->value("name", std::string("Skiffline")) + " on the iPhone now.";
        },
        [alias](SetupContext& shown, std::string message) {
            shown.pairingMessage = message;
            if (!alias->empty()) shown.bluetoothAlias = *alias;
        });
}

void SetupActions::switchEngines() {
    // Written on the worker before its result is posted to the main thread.
    auto relaunch = std::make_shared<bool>(false);
    offMain(
        [relaunch, &desktop = services_.desktop(), &engine = services_.engine()] {
            QuintalisSigns signs{{desktop.installation.runningProgram(), desktop.installation.installedProgram()},
                                 [](uint16_t port) { return whoAnswers(port); }};
            auto outcome = quitOtherEngines(desktop.programs, Clock::real(),
                                            {{engine.port(), "QUINTALIS_ENGINE_PORT"},
                                             {engine.airplayPort(), "QUINTALIS_AIRPLAY_PORT"}},
                                            signs);
            *relaunch = !outcome.quit.empty();
            return switchReport(outcome);
        },
        [this, relaunch](SetupContext& shown, std::string report) {
            shown.switchMessage = report;
            if (*relaunch) services_.installer().relaunch(1.5);
        });
}

void SetupActions::takeLook() {
    SetupContext& context = context_();
    if (context.looking) return;
    auto& state = services_.appState();
    if (state.demo()) {
        context.look = state.demoTryIt();
        changed_();
        return;
    }
    context.looking = true;
    changed_();
    bool preferAirPlay = state.values().linkChoice == AppValues::Link::airplay;
    state.runBlocking([this, watch = alive_.watch(), preferAirPlay, &tryIt = services_.tryIt()]() -> Task {
        std::optional<TryIt::Result> result;
        std::string error;
        try {
            result = tryIt.look(preferAirPlay);
        } catch (const std::exception& failure) {
            error = failure.what();
        }
        return [this, watch, result, error] {
            if (!watch.alive()) return;
            SetupContext& shown = context_();
            shown.looking = false;
            shown.look = result;
            shown.lookError = error;
            changed_();
        };
    });
}

}  // namespace quintalis
