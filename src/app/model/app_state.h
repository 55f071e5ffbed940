#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "app/model/ai_connect.h"
#include "app/model/app_values.h"
#include "app/model/receiver_keeper.h"
#include "base/main_thread.h"
#include "app/model/try_it.h"
#include "base/concurrent_queue.h"
#include "base/liveness.h"
#include "engine/engine.h"
#include "platform/airplay_receiver.h"
#include "platform/capture_devices.h"
#include "platform/launch_at_login.h"
#include "platform/peripheral_manager.h"
#include "platform/running_programs.h"
#include "platform/user_defaults.h"
#include "platform/window_server.h"

namespace quintalis {

// The app's one observable model: what the menu and the setup wizard show,
// learnt by polling the engine's and the AirPlay capture service's status
// and by reading permissions, AI client registrations, the AirPlay receiver
// and launch at login.
//
// Thread rule: it lives on the main thread. Every call, every read of
// values() and every observer call happens there. Requests, file reads and
// child processes run on its own queue ("quintalis.app-state"); their
// results are published on the main thread. No call blocks.
class AppState {
public:
    using Link = AppValues::Link;
    using Perm = AppValues::Perm;
    using Phone = AppValues::Phone;
    using Source = AppValues::Source;
    using Observer = std::function<void()>;

    // Where the permission states come from.
    struct Permissions {
        BluetoothPeripheralRole& bluetooth;
        CaptureDevices& camera;
        WindowServer& screen;
    };
    struct Collaborators {
        Engine& engine;
        UserDefaults& defaults;
        Permissions permissions;
        AIConnect& ai;
        LaunchAtLogin& launchAtLogin;
        AirPlayReceiver& airplayReceiver;
        MainThread& mainThread;
        // Who holds the engine's port when no engine answers there; none: not told.
        RunningPrograms* programs = nullptr;
        // Keeps the AirPlay receiver running while AirPlay is the link; none: nobody does.
        ReceiverKeeper* receiverKeeper = nullptr;
    };

    static constexpr auto kPollInterval = std::chrono::milliseconds(1500);

    explicit AppState(Collaborators collaborators);
    ~AppState();
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    const AppValues& values() const { return values_; }

    // Observers are called after every change of the values, once per change
    // however many values it touched. Returns an id for removeObserver.
    uint64_t addObserver(Observer observer);
    void removeObserver(uint64_t id);

    // What the user changes. Each stores its value in the preferences (the
    // link, AssistiveTouch, setup progress) or in the engine (pause).
    void setLinkChoice(Link link);
    void setAssistiveTouchOn(bool on);
    void setSetupDone(bool done);
    void setStep(int step);
    void setPaused(bool paused);
    void setBluetoothRequested(bool requested);
    // Switches launch at login; logs why when that fails, then shows what the
    // desktop now says.
    void setLaunchAtLogin(bool on);

    // Refreshes now and every kPollInterval; the claude command and Codex's
    // folder are looked up again with the AI clients' registrations. Does
    // nothing in demo mode or when already polling.
    void startPolling();
    // One poll. `whenDone` is called on the main thread once everything this
    // poll started has been published; work still running from an earlier
    // poll is not started again, nor waited for.
    void refresh(Task whenDone = {});
    // Runs `work` on this model's queue, then the task it returns on the
    // main thread, unless this model is gone by then: for the clicks whose
    // work blocks, so they share the queue and its orderly end.
    void runBlocking(std::function<Task()> work);

    // Shows made-up values (the wizard's pictures) and stops all polling.
    void showDemo(const AppValues& values, std::optional<TryIt::Result> tryIt = std::nullopt);
    bool demo() const { return demo_; }
    const std::optional<TryIt::Result>& demoTryIt() const { return demoTryIt_; }
    // How many refreshes ran.
    int tick() const { return tick_; }

private:
    struct Pending;
    using Change = std::function<void(AppValues&)>;

    // Runs the change on the values and tells the observers if it changed any.
    void publish(const Change& change);
    // Runs `work` on the queue, then `apply` with its result on the main thread.
    template <typename Result>
    void offMain(std::function<Result()> work, std::function<void(Result)> apply);

    void scheduleTick();
    void readPermissions(AppValues& values);
    // Starts, restarts or stops the AirPlay receiver as the link says.
    void keepReceiver();
    void checkRegistrations(const std::shared_ptr<Pending>& pending);
    void probeReceiver(const std::shared_ptr<Pending>& pending);
    void pollEngine(const std::shared_ptr<Pending>& pending);
    // `pauseCurrent`: no click on Pause came since the reply was asked for.
    void applyEngineStatus(const std::optional<JSON>& reply, bool pauseCurrent);
    void pollAirPlay(const std::shared_ptr<Pending>& pending);
    // After a poll: takes the port back when nothing answers there, and
    // names whatever keeps it instead.
    void settlePort(bool answered, const std::shared_ptr<Pending>& pending);

    Collaborators with_;
    AppValues values_;
    bool demo_ = false;
    std::optional<TryIt::Result> demoTryIt_;
    bool polling_ = false;
    int tick_ = 0;
    bool engineInFlight_ = false;
    bool checksInFlight_ = false;
    bool probeInFlight_ = false;
    bool holderInFlight_ = false;
    int pauseEdits_ = 0;  // clicks on Pause so far
    std::map<uint64_t, Observer> observers_;
    uint64_t nextObserver_ = 1;
    Liveness alive_;
    ConcurrentQueue work_{"quintalis.app-state", 4};  // last: its tasks end before the rest goes
};

// The one mapping of the system's authorizations to what the app shows.
AppValues::Perm permFrom(BluetoothAuthorization authorization);
AppValues::Perm permFrom(CaptureAuthorization authorization);

}  // namespace quintalis
