#include "app/setup_actions.h"

#include <thread>

#include "app/model/ai_connect.h"
#include "app/model/installer.h"
#include "app/model/other_engines.h"
#include "app/model/try_it.h"
#include "app/pair_command.h"
#include "app/select_backends.h"
#include "base/clock.h"
#include "engine/engine.h"
#include "engine/who_answers.h"

namespace quintalis {

SetupActions::SetupActions(Services services, std::function<SetupContext&()> context, std::function<void()> changed)
    : with_(services), context_(std::move(context)), changed_(std::move(changed)) {}

void SetupActions::offMain(std::function<std::string()> work, std::function<void(SetupContext&, std::string)> apply) {
    std::thread([this, work = std::move(work), apply = std::move(apply)] {
        std::string result = work();
        with_.mainThread.post([this, apply, result] {
            apply(context_(), result);
            changed_();
        });
    }).detach();
}

void SetupActions::operator()(SetupAction action) {
    SetupContext& context = context_();
    switch (action) {
        case SetupAction::install:
            if (!beginAction(context, action)) return;
            changed_();
            offMain([] { return Installer::shared().moveToApplications().value_or(""); },
                    [](SetupContext& shown, std::string message) {
                        endAction(shown, SetupAction::install);
                        shown.installMessage = message;
                    });
            return;
        case SetupAction::switchEngines: switchEngines(); return;
        case SetupAction::allowBluetooth:
            with_.state.setBluetoothRequested(true);
            Engine::shared().startBluetooth();
            with_.state.refresh();
            return;
        case SetupAction::openBluetoothSettings:
            offMain(
                [] {
                    return DesktopBackends::selected().settings.openBluetooth()
                               ? std::string()
                               : std::string("No Bluetooth settings were found on this desktop. Install blueman "
                                             "(sudo apt install blueman), or turn Bluetooth on in a terminal: "
                                             "bluetoothctl power on");
                },
                [](SetupContext& shown, std::string message) { shown.bluetoothMessage = message; });
            return;
        case SetupAction::startAirPlayReceiver:
            context.airplayMessage = with_.receiver.startNow().value_or("");
            with_.state.refresh();
            break;
        case SetupAction::addClaudeCode: {
            auto claude = with_.state.values().claudePath;
            // Two runs of claude at once would each rewrite its settings file.
            if (!claude || !beginAction(context, action)) return;
            changed_();
            offMain([claude] { return AIConnect::shared().addToClaudeCode(*claude).message; },
                    [this](SetupContext& shown, std::string message) {
                        endAction(shown, SetupAction::addClaudeCode);
                        shown.claudeCodeMessage = message;
                        with_.state.refresh();
                    });
            return;
        }
        case SetupAction::copyClaudeCommand:
            with_.clipboard.copy(AIConnect::shared().claudeCodeCommand());
            context.copiedClaudeCommand = true;
            break;
        case SetupAction::addClaudeDesktop: {
            if (!beginAction(context, action)) return;
            changed_();
            // Written on the worker before its result is posted to the main thread.
            auto snippet = std::make_shared<std::string>();
            offMain(
                [snippet] {
                    auto result = AIConnect::shared().addToClaudeDesktop();
                    *snippet = result.snippet;
                    return result.message;
                },
                [this, snippet](SetupContext& shown, std::string message) {
                    endAction(shown, SetupAction::addClaudeDesktop);
                    shown.claudeDesktopMessage = message;
                    shown.claudeDesktopSnippet = *snippet;
                    shown.copiedClaudeDesktop = false;
                    with_.state.refresh();
                });
            return;
        }
        case SetupAction::copyClaudeDesktop:
            with_.clipboard.copy(context.claudeDesktopSnippet);
            context.copiedClaudeDesktop = true;
            break;
        case SetupAction::copyCodex:
            with_.clipboard.copy(AIConnect::shared().codexSnippet());
            context.copiedCodex = true;
            break;
        case SetupAction::takeLook: takeLook(); return;
        case SetupAction::openPairingWindow: {
            // Written on the worker before its result is posted to the main thread.
            auto alias = std::make_shared<std::string>();
            offMain(
                [alias] {
                    auto result = requestPairingWindow(std::nullopt);
                    if (!result.answer) return result.error;
                    *alias = result.answer->value("shownAs", std::string());
                    return "Pairing is open for " + std::to_string(result.answer->value("pairing", 0)) +
                           " seconds: tap " + result.answer->value("name", std::string("Skiffline")) + " on the iPhone now.";
                },
                [alias](SetupContext& shown, std::string message) {
                    shown.pairingMessage = message;
                    if (!alias->empty()) shown.bluetoothAlias = *alias;
                });
            return;
        }
        default: return;
    }
    changed_();
}

void SetupActions::switchEngines() {
    // Written on the worker before its result is posted to the main thread.
    auto relaunch = std::make_shared<bool>(false);
    offMain(
        [relaunch] {
            auto& desktop = DesktopBackends::selected();
            QuintalisSigns signs{{desktop.installation.runningProgram(), desktop.installation.installedProgram()},
                                 [](uint16_t port) { return whoAnswers(port); }};
            auto outcome = quitOtherEngines(desktop.programs, Clock::real(),
                                            {{Engine::shared().port(), "QUINTALIS_ENGINE_PORT"},
                                             {Engine::shared().airplayPort(), "QUINTALIS_AIRPLAY_PORT"}},
                                            signs);
            *relaunch = !outcome.quit.empty();
            return switchReport(outcome);
        },
        [relaunch](SetupContext& shown, std::string report) {
            shown.switchMessage = report;
            if (*relaunch) Installer::shared().relaunch(1.5);
        });
}

void SetupActions::takeLook() {
    SetupContext& context = context_();
    if (context.looking) return;
    if (with_.state.demo()) {
        context.look = with_.state.demoTryIt();
        changed_();
        return;
    }
    context.looking = true;
    changed_();
    bool preferAirPlay = with_.state.values().linkChoice == AppValues::Link::airplay;
    std::thread([this, preferAirPlay] {
        std::optional<TryIt::Result> result;
        std::string error;
        try {
            result = TryIt::shared().look(preferAirPlay);
        } catch (const std::exception& failure) {
            error = failure.what();
        }
        with_.mainThread.post([this, result, error] {
            SetupContext& shown = context_();
            shown.looking = false;
            shown.look = result;
            shown.lookError = error;
            changed_();
        });
    }).detach();
}

}  // namespace quintalis
