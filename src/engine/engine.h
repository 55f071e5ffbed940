#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "base/liveness.h"
#include "base/main_thread.h"
#include "base/outcome.h"
#include "engine/app_info.h"
#include "engine/engine_mode.h"
#include "engine/http_server.h"
#include "mirror/airplay_server.h"
#include "mirror/airplay_warm_up.h"
#include "platform/host_environment.h"
#include "platform/user_defaults.h"

namespace quintalis {

// The service that owns the phone side of this computer: it serves the
// engine API on 127.0.0.1 unless another engine already answers there, and
// then starts the phone side; on a second port it serves the AirPlay capture
// service unless another process does. `start` runs on the main thread and
// may block it for the two port probes; the request handler runs on the HTTP
// queue, many calls at once, and reads only the defaults, the routes and the
// app facts.
class Engine {
public:
    using Mode = EngineMode;
    using RouteHandler = RequestHandler;
    // What start() does when another engine already serves the port: the
    // desktop app uses that engine; a headless process has nothing to do.
    enum class WhenServedElsewhere { useIt, leave };

    // What the engine sets going once it owns its port. Each member may be empty.
    struct PhoneSide {
        std::function<void()> startRegistry;     // before `mode` becomes own
        std::function<bool()> bluetoothAllowed;  // permission granted earlier
        std::function<void()> startBluetooth;
        std::function<bool()> screensAllowed;
        std::function<void()> startScreens;
    };
    // The in-process AirPlay capture service, attempted last unless the
    // engine is disabled, also when another engine serves the engine port.
    struct AirPlaySide {
        // Makes the service; empty: this process serves none.
        std::function<std::unique_ptr<AirPlayServer>()> makeServer;
        // Whether windows can be captured now, asked without prompting.
        std::function<bool()> screenCaptureAllowed;
        // Where the warm-up ticks, every 1.5 s: while the user's chosen link
        // is "airplay" and windows can be captured, it opens or reuses the
        // window capture ahead of requests. None: captures open on request.
        MainThread* mainThread = nullptr;
    };
    // What start() sets going once the port is settled.
    struct StartHooks {
        PhoneSide phoneSide;
        AirPlaySide airplay;
    };

    Engine(HostEnvironment& host, UserDefaults& defaults, AppInfo& info, RouteHandler routes, StartHooks hooks);
    // An engine that sets nothing going besides its own port.
    Engine(HostEnvironment& host, UserDefaults& defaults, AppInfo& info, RouteHandler routes);
    ~Engine();

    // The paths that move or type on the phone.
    static const std::set<std::string>& actions();

    // Once this process serves the port, another start changes nothing. While
    // it only uses another engine's port, or could not bind it, another start
    // tries again: it serves the port once that engine has gone, or uses the
    // engine that took it.
    void start(WhenServedElsewhere whenServedElsewhere = WhenServedElsewhere::useIt);
    // Stops serving both ports for good, the engine's first: clients are
    // refused from then on, and the AirPlay warm-up and window capture go
    // after. Later starts and take-backs do nothing. Blocks until the
    // handlers still running have finished, so not from a handler.
    void stop();
    // What takePortBack did.
    enum class Retake { notTried, taken, stillHeld };
    // For the app, when nothing answers on the engine's port any more: the
    // engine start() found there (or the program that held the port) may be
    // gone. Listens there itself and starts the phone side, and the AirPlay
    // service if it was left to another too. Tries only after start() found
    // the port taken; main thread, like start().
    Retake takePortBack();
    // The same for the AirPlay service's port alone, when nothing answers
    // there while this process serves the engine's port: the program that
    // held it (a mirror, another copy) may have gone.
    Retake takeAirPlayPortBack();
    // Start the Bluetooth peripheral or the USB screens, once each, and only
    // in the process that owns the port (the setup wizard calls them when the
    // permission is granted).
    void startBluetooth();
    void startScreens();
    Mode mode() const;
    uint16_t port() const { return port_; }
    uint16_t airplayPort() const { return airplayPort_; }
    // The port the listener really bound (port() unless that was 0).
    std::optional<uint16_t> listeningPort() const;
    // Connections the engine's listener holds; 0 once every client was served and left.
    int openConnections() const;

    // Who serves the AirPlay port, as the last start() found.
    Mode airplayMode() const;
    // The port this process's AirPlay capture service really bound, while it serves one.
    std::optional<uint16_t> airplayListeningPort() const;
    // Drops the in-process service's window capture; the next frame request
    // starts another. What "/quit" does to the service inside the app.
    void resetAirPlayCapture();

    bool paused() const;
    void setPaused(bool paused);
    // Why actions are refused now; nothing while the owner lets them run.
    std::optional<std::string> pauseReason() const;

    std::string baseURL() const;
    std::string airplayURL() const;

    // The engine's request handler: shutting-down and pause gates, the route
    // table, and the app/version/paused members of the status reply.
    void handle(const HTTPRequest& request, Responder responder);

private:
    std::string urlFrom(const char* variable, uint16_t port) const;
    bool stopped() const;
    // Serves the engine port and becomes its owner.
    Outcome listen();
    void startPhoneSide();
    void startAirPlay();
    HTTPResponse withAppFacts(HTTPResponse response) const;

    HostEnvironment& host_;
    UserDefaults& defaults_;
    AppInfo& info_;
    RouteHandler routes_;
    StartHooks hooks_;
    uint16_t port_;
    uint16_t airplayPort_;
    mutable std::mutex mutex_;
    Mode mode_;
    Mode airplayMode_;
    mutable std::optional<std::string> loggedBadURL_;
    bool bluetoothStarted_ = false;
    bool screensStarted_ = false;
    bool stopped_ = false;
    Liveness alive_;
    // Set once by start(), then kept for the life of the engine.
    std::unique_ptr<AirPlayServer> airplay_;
    std::unique_ptr<HTTPServer> airplayListener_;
    std::unique_ptr<AirPlayWarmUp> airplayTimer_;
    std::unique_ptr<HTTPServer> server_;  // last: stopped before anything it calls is destroyed
};

inline constexpr uint16_t kDefaultEnginePort = 7390;
inline constexpr uint16_t kDefaultAirPlayPort = 7391;

// Where this process's clients reach a service: `url` when it is an http
// URL, else http://127.0.0.1:port.
std::string serviceURL(const std::optional<std::string>& url, uint16_t port);

// A port number: a whole decimal 0-65535 with at most one leading "+";
// nothing for anything else.
std::optional<uint16_t> portNumber(std::string_view text);
// A port from the environment; anything but a port number, or nothing, gives the fallback.
uint16_t parsePort(const std::optional<std::string>& text, uint16_t fallback);

// Why the owner's preferences stop actions: the "paused" preference, or
// preferences that cannot be read (control stays off until they can).
std::optional<std::string> pauseReason(UserDefaults& defaults);

// True for an absolute http or https URL with a host.
bool isHTTPURL(const std::string& text);

}  // namespace quintalis
