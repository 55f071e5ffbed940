#pragma once

#include <functional>

#include "app/model/setup_pages.h"
#include "base/liveness.h"
#include "platform/clipboard.h"

namespace quintalis {

class Services;

// Carries out the setup window's clicks that reach beyond the app's values:
// installing, registering AI clients, the try-it look, the AirPlay receiver.
// Blocking work runs on the app state's queue; its outcome is written into
// the window's context on the main thread, then `changed` redraws, unless
// these actions are gone by then.
// Thread rule: the main thread calls, and destroys.
class SetupActions {
public:
    SetupActions(Services& services, Clipboard& clipboard, std::function<SetupContext&()> context,
                 std::function<void()> changed);
    ~SetupActions();

    void operator()(SetupAction action);

private:
    // Runs `work` off the main thread and `apply` with its result on it.
    void offMain(std::function<std::string()> work, std::function<void(SetupContext&, std::string)> apply);
    // The actions whose work blocks (a program run, a file rewritten, a
    // request to the engine) run it through offMain.
    void install(SetupContext& context);
    void switchEngines();
    void openBluetoothSettings();
    void addClaudeCode(SetupContext& context);
    void addClaudeDesktop(SetupContext& context);
    void openPairingWindow();
    void takeLook();

    Services& services_;
    Clipboard& clipboard_;
    std::function<SetupContext&()> context_;
    std::function<void()> changed_;
    Liveness alive_;
};

}  // namespace quintalis
