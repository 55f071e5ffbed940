#include "app/model/app_state.h"

#include "app/model/http_get.h"
#include "app/model/other_engines.h"
#include "app/model/status_replies.h"
#include "base/log.h"
#include "base/queue_check.h"

namespace quintalis {
namespace {

constexpr auto kEngineTimeout = std::chrono::milliseconds(1500);
constexpr auto kAirPlayTimeout = std::chrono::seconds(4);
constexpr std::string_view kOwnApp = "Quintalis";

AppValues::Link linkFrom(const std::optional<std::string>& stored) {
    return stored == "airplay" ? AppValues::Link::airplay : AppValues::Link::cable;
}

const char* nameOf(AppValues::Link link) { return link == AppValues::Link::airplay ? "airplay" : "cable"; }

}  // namespace

AppValues::Perm permFrom(BluetoothAuthorization authorization) {
    switch (authorization) {
        case BluetoothAuthorization::notDetermined: return AppValues::Perm::notAsked;
        case BluetoothAuthorization::restricted:
        case BluetoothAuthorization::denied: return AppValues::Perm::denied;
        case BluetoothAuthorization::allowedAlways: return AppValues::Perm::granted;
    }
    return AppValues::Perm::unknown;
}

AppValues::Perm permFrom(CaptureAuthorization authorization) {
    switch (authorization) {
        case CaptureAuthorization::notDetermined: return AppValues::Perm::notAsked;
        case CaptureAuthorization::restricted:
        case CaptureAuthorization::denied: return AppValues::Perm::denied;
        case CaptureAuthorization::authorized: return AppValues::Perm::granted;
    }
    return AppValues::Perm::unknown;
}

// What one refresh started and is still waiting for; touched on the main
// thread only.
struct AppState::Pending {
    int parts = 0;
    Task whenDone;

    void partDone() {
        if (--parts == 0 && whenDone) whenDone();
    }
};

AppState::AppState(Collaborators collaborators) : with_(collaborators) {
    auto& defaults = with_.defaults;
    auto link = defaults.stringValue("link");
    values_.linkChosen = link == "airplay" || link == "cable";
    values_.linkChoice = linkFrom(link);
    values_.assistiveTouchOn = defaults.boolForKey("assistiveTouch");
    values_.setupDone = defaults.boolForKey("setupDone");
    values_.step = static_cast<int>(defaults.intValue("step").value_or(0));
    values_.paused = with_.engine.paused();
    values_.pauseProblem = defaults.problem();
    values_.launchAtLogin = with_.launchAtLogin.isEnabled();
}

AppState::~AppState() { alive_.end(); }

uint64_t AppState::addObserver(Observer observer) {
    QUINTALIS_ON_QUEUE(with_.mainThread);
    uint64_t id = nextObserver_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void AppState::removeObserver(uint64_t id) {
    QUINTALIS_ON_QUEUE(with_.mainThread);
    observers_.erase(id);
}

void AppState::publish(const Change& change) {
    QUINTALIS_ON_QUEUE(with_.mainThread);
    AppValues before = values_;
    change(values_);
    if (values_ == before) return;
    // An observer may add or remove observers while it is told.
    auto observers = observers_;
    for (auto& [id, observer] : observers) {
        if (observers_.count(id)) observer();
    }
}

template <typename Result>
void AppState::offMain(std::function<Result()> work, std::function<void(Result)> apply) {
    QUINTALIS_ON_QUEUE(with_.mainThread);
    auto watch = alive_.watch();
    MainThread& main = with_.mainThread;
    work_.async([work = std::move(work), apply = std::move(apply), watch, &main] {
        Result result = work();
        main.post([apply, result = std::move(result), watch] {
            if (watch.alive()) apply(result);
        });
    });
}

void AppState::runBlocking(std::function<Task()> work) {
    offMain<Task>(std::move(work), [](Task then) {
        if (then) then();
    });
}

void AppState::setLinkChoice(Link link) {
    with_.defaults.setString("link", nameOf(link));
    publish([link](AppValues& values) {
        values.linkChoice = link;
        values.linkChosen = true;
    });
}

void AppState::setAssistiveTouchOn(bool on) {
    with_.defaults.setBool("assistiveTouch", on);
    publish([on](AppValues& values) { values.assistiveTouchOn = on; });
}

void AppState::setSetupDone(bool done) {
    with_.defaults.setBool("setupDone", done);
    publish([done](AppValues& values) { values.setupDone = done; });
}

void AppState::setStep(int step) {
    with_.defaults.setInt("step", step);
    publish([step](AppValues& values) { values.step = step; });
}

void AppState::setPaused(bool paused) {
    ++pauseEdits_;
    with_.engine.setPaused(paused);
    publish([paused](AppValues& values) { values.paused = paused; });
}

void AppState::setBluetoothRequested(bool requested) {
    publish([requested](AppValues& values) { values.bluetoothRequested = requested; });
}

void AppState::setLaunchAtLogin(bool on) {
    if (auto set = with_.launchAtLogin.setEnabled(on); !set.ok()) log("launch at login: " + set.message());
    bool enabled = with_.launchAtLogin.isEnabled();
    publish([enabled](AppValues& values) { values.launchAtLogin = enabled; });
}

void AppState::showDemo(const AppValues& values, std::optional<TryIt::Result> tryIt) {
    QUINTALIS_ON_QUEUE(with_.mainThread);
    demo_ = true;
    demoTryIt_ = std::move(tryIt);
    publish([&values](AppValues& shown) { shown = values; });
}

void AppState::startPolling() {
    QUINTALIS_ON_QUEUE(with_.mainThread);
    if (demo_ || polling_) return;
    polling_ = true;
    refresh();
    scheduleTick();
}

void AppState::scheduleTick() {
    auto watch = alive_.watch();
    with_.mainThread.postAfter(kPollInterval, [this, watch] {
        if (!watch.alive() || demo_) return;
        refresh();
        scheduleTick();
    });
}

void AppState::refresh(Task whenDone) {
    QUINTALIS_ON_QUEUE(with_.mainThread);
    auto pending = std::make_shared<Pending>();
    pending->whenDone = std::move(whenDone);
    pending->parts = 1;  // this call's own part, so that nothing finishes before all have started
    if (!demo_) {
        ++tick_;
        publish([this](AppValues& values) { readPermissions(values); });
        keepReceiver();
        if (tick_ % 4 == 1) {
            checkRegistrations(pending);
            if (values_.linkChoice == Link::airplay) probeReceiver(pending);
        }
        pollEngine(pending);
    }
    pending->partDone();
}

void AppState::keepReceiver() {
    ReceiverKeeper* keeper = with_.receiverKeeper;
    if (!keeper) return;
    keeper->check(values_.linkChoice == Link::airplay);
    publish([keeper](AppValues& values) {
        values.airplayReceiverInstalled = keeper->installed();
        values.receiverProblem = keeper->problem();
    });
}

void AppState::readPermissions(AppValues& values) {
    auto& permissions = with_.permissions;
    values.bluetoothPerm = permFrom(permissions.bluetooth.authorization());
    values.cameraPerm = permFrom(permissions.camera.authorizationStatus());
    values.cameraProblem = values.cameraPerm == Perm::denied ? permissions.camera.authorizationReason() : "";
    // There is no question to ask for windows: they can be captured whenever
    // the display can be reached, which cannot tell denied from not asked.
    values.screenPerm = permissions.screen.unavailableReason() ? Perm::notAsked : Perm::granted;
    if (!values.linkChosen) values.linkChoice = values.defaultLink();
}

void AppState::checkRegistrations(const std::shared_ptr<Pending>& pending) {
    if (checksInFlight_) return;
    checksInFlight_ = true;
    ++pending->parts;
    struct Checks {
        std::optional<std::filesystem::path> claude;
        std::filesystem::path codexConfig;
        bool claudeCode, claudeDesktop, codex, launchAtLogin;
    };
    AIConnect& ai = with_.ai;
    LaunchAtLogin& login = with_.launchAtLogin;
    offMain<Checks>(
        [&ai, &login] {
            // Claude or Codex may be installed, or moved, while the app runs.
            auto claude = ai.findClaude();
            ai.lookUpCodexHome();
            return Checks{claude, ai.codexConfig(), ai.claudeCodeHasQuintalis(), ai.claudeDesktopHasQuintalis(), ai.codexHasQuintalis(),
                          login.isEnabled()};
        },
        [this, pending](Checks checks) {
            checksInFlight_ = false;
            publish([&checks](AppValues& values) {
                values.claudePath = checks.claude ? std::optional(checks.claude->string()) : std::nullopt;
                values.codexConfig = checks.codexConfig.string();
                values.claudeCodeAdded = checks.claudeCode;
                values.claudeDesktopAdded = checks.claudeDesktop;
                values.codexAdded = checks.codex;
                values.launchAtLogin = checks.launchAtLogin;
            });
            pending->partDone();
        });
}

void AppState::probeReceiver(const std::shared_ptr<Pending>& pending) {
    if (probeInFlight_) return;
    probeInFlight_ = true;
    ++pending->parts;
    AirPlayReceiver& receiver = with_.airplayReceiver;
    offMain<std::optional<bool>>([&receiver] { return receiver.isOn(); },
                                 [this, pending](std::optional<bool> on) {
                                     probeInFlight_ = false;
                                     publish([on](AppValues& values) {
                                         values.airplayReceiverOn = on;
                                         values.airplayReceiverLooked = true;
                                     });
                                     pending->partDone();
                                 });
}

void AppState::pollEngine(const std::shared_ptr<Pending>& pending) {
    // The AirPlay poll follows in the same part, since whether it is wanted
    // depends on the phones the engine lists.
    if (engineInFlight_) return;
    engineInFlight_ = true;
    ++pending->parts;
    std::string url = joinURL(with_.engine.baseURL(), "status");
    struct Answer {
        std::optional<JSON> reply;
        std::optional<std::string> pauseProblem;
    };
    UserDefaults& defaults = with_.defaults;
    int pauseEdits = pauseEdits_;
    offMain<Answer>([url, &defaults] { return Answer{getJSON(url, kEngineTimeout), defaults.problem()}; },
                    [this, pending, pauseEdits](Answer answer) {
                        // A reply asked for before the user's last click on Pause knows nothing of it.
                        applyEngineStatus(answer.reply, pauseEdits == pauseEdits_);
                        settlePort(answer.reply.has_value(), pending);
                        publish([&answer](AppValues& values) { values.pauseProblem = answer.pauseProblem; });
                        const AppValues& now = values_;
                        bool airplayWanted = now.linkChoice == Link::airplay ||
                                             (now.phones.empty() && now.screenPerm == Perm::granted);
                        if (airplayWanted) {
                            pollAirPlay(pending);
                        } else {
                            engineInFlight_ = false;
                            pending->partDone();
                        }
                    });
}

void AppState::applyEngineStatus(const std::optional<JSON>& reply, bool pauseCurrent) {
    std::optional<EngineStatus> status;
    if (reply) status = readEngineStatus(*reply);
    // Nothing of what an engine tells survives it, nor comes from a program
    // that is no engine: a Bluetooth line kept from either would be a lie.
    if (!status || status->owner.empty()) {
        publish([answered = status.has_value()](AppValues& values) {
            AppValues fresh;
            values.engineUp = answered;
            values.engineOwner = answered ? "" : fresh.engineOwner;
            values.bluetoothState = fresh.bluetoothState;
            values.phones.clear();
            values.hosts.clear();
            values.unmatchedHosts.clear();
            values.pairingSeconds = 0;
        });
        return;
    }
    // The engine of this process was paused or resumed through its API, or
    // paused because the preferences cannot be read. Only shown: writing it
    // back would store a pause the user never chose, over their untick.
    bool takePaused = pauseCurrent && status->paused && status->owner == kOwnApp;
    publish([&status, takePaused](AppValues& values) {
        values.engineUp = true;
        values.engineOwner = status->owner;
        values.bluetoothState = status->bluetooth;
        values.phones = status->phones;
        values.hosts = status->hosts;
        values.unmatchedHosts = status->unmatchedHosts;
        values.pairingSeconds = status->pairingSeconds;
        if (takePaused) values.paused = *status->paused;
    });
}

void AppState::settlePort(bool answered, const std::shared_ptr<Pending>& pending) {
    // The engine this app relied on, or whatever held the port, may have
    // gone: the port is this process's again.
    bool held = values_.engineUp && values_.engineOwner.empty();
    if (!answered) held = with_.engine.takePortBack() == Engine::Retake::stillHeld;
    if (!held || !with_.programs) {
        publish([](AppValues& values) { values.portHeld.reset(); });
        return;
    }
    if (holderInFlight_) return;
    holderInFlight_ = true;
    ++pending->parts;
    RunningPrograms& programs = *with_.programs;
    WantedPort port{with_.engine.port(), "QUINTALIS_ENGINE_PORT"};
    offMain<std::string>(
        [&programs, port] {
            auto holders = programs.listeningOn({port.port});
            // Another user's program is not in this user's list.
            return heldPortLine(port, holders.empty() ? std::nullopt : std::optional(holders.front()));
        },
        [this, pending](std::string line) {
            holderInFlight_ = false;
            publish([&line](AppValues& values) { values.portHeld = line; });
            pending->partDone();
        });
}

void AppState::pollAirPlay(const std::shared_ptr<Pending>& pending) {
    std::string url = joinURL(with_.engine.airplayURL(), "status");
    offMain<std::optional<JSON>>([url] { return getJSON(url, kAirPlayTimeout); },
                                 [this, pending](std::optional<JSON> reply) {
                                     engineInFlight_ = false;
                                     // Whatever held the AirPlay port may have gone.
                                     if (!reply) with_.engine.takeAirPlayPortBack();
                                     publish([&reply](AppValues& values) {
                                         if (!reply) {
                                             values.airplayUp = false;
                                             values.airplayWindow.reset();
                                             values.screenRefusal.clear();
                                             return;
                                         }
                                         AirPlayStatus status = readAirPlayStatus(*reply);
                                         values.airplayUp = true;
                                         values.airplayCandidates = status.candidates;
                                         values.airplayWindow = status.window;
                                         // The service's own screen capture counts for the app.
                                         if (status.permission) values.screenPerm = Perm::granted;
                                         values.screenRefusal = status.refusal;
                                     });
                                     pending->partDone();
                                 });
}

}  // namespace quintalis
