#include "engine/engine.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/http_client.h"
#include "base/log.h"
#include "base/text.h"
#include "engine/airplay_service.h"
#include "engine/who_answers.h"

namespace quintalis {
namespace {

const char* const kPausedMessage =
    "Quintalis is paused: the owner turned off control in the Quintalis menu (tray menu \u203a turn off Pause control)";

// The port a variable names, or the fallback; a value that is not a port is
// said in the log, since the engine then listens somewhere unexpected.
uint16_t portFrom(HostEnvironment& host, const char* variable, uint16_t fallback) {
    auto text = host.variable(variable);
    if (!text) return fallback;
    auto port = portNumber(*text);
    if (!port) log("ignoring " + std::string(variable) + "=" + *text + ": not a port number");
    return port.value_or(fallback);
}

// Whether nothing listens on 127.0.0.1:port now. Unlike asking the holder
// who it is, this never waits, so a silent holder costs each poll nothing.
bool portFree(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

}  // namespace

std::optional<uint16_t> portNumber(std::string_view text) {
    int64_t value = 0;
    // A minus sign never names a port, not even in "-0".
    if (text.starts_with('-') || parseDecimal(text, value) != DecimalParse::ok) return std::nullopt;
    if (value < 0 || value > 65535) return std::nullopt;
    return static_cast<uint16_t>(value);
}

uint16_t parsePort(const std::optional<std::string>& text, uint16_t fallback) {
    return text ? portNumber(*text).value_or(fallback) : fallback;
}

bool isHTTPURL(const std::string& text) {
    const std::string lower = asciiLowercase(text);
    size_t hostStart;
    if (lower.rfind("http://", 0) == 0) {
        hostStart = 7;
    } else if (lower.rfind("https://", 0) == 0) {
        hostStart = 8;
    } else {
        return false;
    }
    for (unsigned char c : text) {
        if (c <= ' ' || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' || c == '`' ||
            c == '{' || c == '|' || c == '}') {
            return false;
        }
    }
    size_t hostEnd = text.find_first_of("/?#", hostStart);
    std::string authority = text.substr(hostStart, hostEnd == std::string::npos ? std::string::npos : hostEnd - hostStart);
    return !authority.empty() && authority.front() != ':';
}

const std::set<std::string>& Engine::actions() {
    static const std::set<std::string> paths{"/tap", "/swipe", "/move", "/nudge", "/type", "/key", "/home"};
    return paths;
}

Engine::Engine(HostEnvironment& host, UserDefaults& defaults, AppInfo& info, RouteHandler routes, StartHooks hooks)
    : host_(host),
      defaults_(defaults),
      info_(info),
      routes_(std::move(routes)),
      hooks_(std::move(hooks)),
      port_(portFrom(host, "QUINTALIS_ENGINE_PORT", kDefaultEnginePort)),
      airplayPort_(portFrom(host, "QUINTALIS_AIRPLAY_PORT", kDefaultAirPlayPort)) {}

Engine::Engine(HostEnvironment& host, UserDefaults& defaults, AppInfo& info, RouteHandler routes)
    : Engine(host, defaults, info, std::move(routes), StartHooks{}) {}

Engine::~Engine() {
    // Requests still arriving are told the engine is going away.
    alive_.end();
    server_.reset();
}

void Engine::stop() {
    std::unique_ptr<HTTPServer> server;
    std::unique_ptr<HTTPServer> airplayListener;
    std::unique_ptr<AirPlayWarmUp> warmUp;
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return;
        stopped_ = true;
        server = std::move(server_);
        airplayListener = std::move(airplayListener_);
        warmUp = std::move(airplayTimer_);
        if (mode_ == Mode::own()) mode_ = Mode::stopped();
        if (airplayMode_ == Mode::own()) airplayMode_ = Mode::stopped();
    }
    // Outside the lock: the handlers being waited for read the engine's state.
    if (server) server->stop();
    if (airplayListener) airplayListener->stop();
    warmUp.reset();
    resetAirPlayCapture();
}

bool Engine::stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

Engine::Mode Engine::mode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

std::optional<uint16_t> Engine::listeningPort() const {
    std::lock_guard lock(mutex_);
    if (!server_) return std::nullopt;
    return server_->boundPort();
}

int Engine::openConnections() const {
    std::lock_guard lock(mutex_);
    return server_ ? server_->openConnections() : 0;
}

void Engine::start(WhenServedElsewhere whenServedElsewhere) {
    // Only a port this process serves is settled for good: the engine that
    // served it, or won the race for it, may go away later.
    if (mode() == Mode::own() || stopped()) return;
    if (host_.variable("QUINTALIS_NO_ENGINE") == "1") {
        std::lock_guard lock(mutex_);
        mode_ = Mode::failed("engine disabled (QUINTALIS_NO_ENGINE=1)");
        return;
    }
    if (auto name = whoAnswers(port_)) {
        {
            std::lock_guard lock(mutex_);
            mode_ = Mode::external(*name);
        }
        if (whenServedElsewhere == WhenServedElsewhere::leave) {
            log("engine: port " + std::to_string(port_) + " is served by " + loggable(*name) + "; nothing to do here");
            return;
        }
        log("engine: port " + std::to_string(port_) + " is served by " + loggable(*name) + "; using it");
    } else if (auto listened = listen(); !listened.ok()) {
        std::lock_guard lock(mutex_);
        mode_ = Mode::failed(listened.message());
    }
    if (mode() == Mode::own()) startPhoneSide();
    startAirPlay();
}

Outcome Engine::listen() {
    auto watch = alive_.watch();
    auto server = std::make_unique<HTTPServer>(port_, [this, watch](const HTTPRequest& request, Responder responder) {
        if (!watch.alive()) return responder.send(HTTPResponse::error("shutting down", 503));
        handle(request, std::move(responder));
    });
    try {
        server->start();
    } catch (const std::system_error& error) {
        return Outcome::failure("can't listen on 127.0.0.1:" + std::to_string(port_) + ": " + error.code().message());
    }
    uint16_t bound = server->boundPort();
    {
        std::lock_guard lock(mutex_);
        server_ = std::move(server);
    }
    if (hooks_.phoneSide.startRegistry) hooks_.phoneSide.startRegistry();
    {
        std::lock_guard lock(mutex_);
        mode_ = Mode::own();
    }
    log("engine: listening on " + loopbackURL(bound));
    return Outcome::success();
}

void Engine::startPhoneSide() {
    const auto& side = hooks_.phoneSide;
    if (side.bluetoothAllowed && side.bluetoothAllowed()) startBluetooth();
    if (side.screensAllowed && side.screensAllowed()) startScreens();
}

Engine::Retake Engine::takePortBack() {
    if (stopped()) return Retake::notTried;
    Mode was = mode();
    // Only a port that start() found taken is worth another try: a stopped
    // engine was never meant to serve, a disabled one must not.
    bool lost = was.kind == Mode::Kind::external ||
                (was.kind == Mode::Kind::failed && was.text.starts_with("can't listen"));
    if (!lost) return Retake::notTried;
    if (auto listened = listen(); !listened.ok()) {
        // Still held: by the same program, or by one that does not speak HTTP.
        if (was.kind == Mode::Kind::failed) {
            std::lock_guard lock(mutex_);
            mode_ = Mode::failed(listened.message());
        }
        return Retake::stillHeld;
    }
    log("engine: " + (was.kind == Mode::Kind::external ? loggable(was.text) : std::string("the holder")) +
        " left port " + std::to_string(port_) + "; serving it here now");
    startPhoneSide();
    // The AirPlay service the other engine kept went with it, most likely.
    Mode airplay = airplayMode();
    if (airplay.kind == Mode::Kind::external || airplay.kind == Mode::Kind::failed) startAirPlay();
    return Retake::taken;
}

Engine::Retake Engine::takeAirPlayPortBack() {
    if (stopped()) return Retake::notTried;
    Mode was = airplayMode();
    bool lost = was.kind == Mode::Kind::external ||
                (was.kind == Mode::Kind::failed && was.text.starts_with("can't listen"));
    // An engine that uses another's leaves both ports to it.
    if (!lost || mode() != Mode::own()) return Retake::notTried;
    if (!portFree(airplayPort_)) return Retake::stillHeld;
    startAirPlay();
    if (airplayMode() != Mode::own()) return Retake::stillHeld;
    log("airplay: " + (was.kind == Mode::Kind::external ? loggable(was.text) : std::string("the holder")) +
        " left port " + std::to_string(airplayPort_) + "; serving it here now");
    return Retake::taken;
}

void Engine::startAirPlay() {
    if (!hooks_.airplay.makeServer || airplayMode() == Mode::own()) return;
    const std::string port = std::to_string(airplayPort_);
    if (auto name = whoAnswers(airplayPort_)) {
        {
            std::lock_guard lock(mutex_);
            airplayMode_ = Mode::external(*name);
        }
        log("airplay: port " + port + " is served by " + loggable(*name) + "; using it");
        return;
    }
    auto service = hooks_.airplay.makeServer();
    auto watch = alive_.watch();
    std::unique_ptr<HTTPServer> listener;
    try {
        // Inside the app "/quit" only lets the window capture go: the app
        // itself keeps running.
        listener = serveHTTP(airplayPort_, [this, watch, &served = *service](const std::string& path,
                                                                             const AirPlayQuery& query,
                                                                             const AirPlayResponder& responder) {
            if (path != "/quit") return served.handle(path, query, responder);
            if (watch.alive()) resetAirPlayCapture();
            responder.send(AirPlayReply{200, "application/json", R"({"ok":true})"});
        });
    } catch (const std::system_error& error) {
        const std::string message = "can't listen on 127.0.0.1:" + port + ": " + error.code().message();
        {
            std::lock_guard lock(mutex_);
            airplayMode_ = Mode::failed(message);
        }
        log("airplay: " + message);
        return;
    }
    std::unique_ptr<AirPlayWarmUp> timer;
    if (hooks_.airplay.mainThread) {
        timer = std::make_unique<AirPlayWarmUp>(*service, *hooks_.airplay.mainThread, std::chrono::milliseconds(1500),
                                                [this, watch] {
                                                    if (!watch.alive() || defaults_.stringValue("link") != "airplay") {
                                                        return false;
                                                    }
                                                    return !hooks_.airplay.screenCaptureAllowed ||
                                                           hooks_.airplay.screenCaptureAllowed();
                                                });
    }
    const uint16_t bound = listener->boundPort();
    {
        std::lock_guard lock(mutex_);
        airplay_ = std::move(service);
        airplayListener_ = std::move(listener);
        airplayTimer_ = std::move(timer);
        airplayMode_ = Mode::own();
    }
    if (airplayTimer_) airplayTimer_->start();
    log("airplay: listening on " + loopbackURL(bound));
}

Engine::Mode Engine::airplayMode() const {
    std::lock_guard lock(mutex_);
    return airplayMode_;
}

std::optional<uint16_t> Engine::airplayListeningPort() const {
    std::lock_guard lock(mutex_);
    if (!airplayListener_) return std::nullopt;
    return airplayListener_->boundPort();
}

void Engine::resetAirPlayCapture() {
    AirPlayServer* service;
    {
        std::lock_guard lock(mutex_);
        service = airplay_.get();
    }
    // Outside the engine's lock: stopping a capture waits for a frame in delivery.
    if (service) service->resetCapture();
}

void Engine::startBluetooth() {
    {
        std::lock_guard lock(mutex_);
        if (mode_ != Mode::own() || bluetoothStarted_) return;
        bluetoothStarted_ = true;
    }
    if (hooks_.phoneSide.startBluetooth) hooks_.phoneSide.startBluetooth();
}

void Engine::startScreens() {
    {
        std::lock_guard lock(mutex_);
        if (mode_ != Mode::own() || screensStarted_) return;
        screensStarted_ = true;
    }
    if (hooks_.phoneSide.startScreens) hooks_.phoneSide.startScreens();
}

std::optional<std::string> pauseReason(UserDefaults& defaults) {
    if (auto problem = defaults.problem()) return "control is paused: " + *problem;
    if (defaults.boolForKey("paused")) return kPausedMessage;
    return std::nullopt;
}

std::optional<std::string> Engine::pauseReason() const { return quintalis::pauseReason(defaults_); }

bool Engine::paused() const { return pauseReason().has_value(); }

void Engine::setPaused(bool paused) { defaults_.setBool("paused", paused); }

std::string serviceURL(const std::optional<std::string>& url, uint16_t port) {
    if (url && isHTTPURL(*url)) return *url;
    return loopbackURL(port);
}

std::string Engine::urlFrom(const char* variable, uint16_t port) const {
    auto value = host_.variable(variable);
    std::string url = serviceURL(value, port);
    if (!value || url == *value) return url;
    std::lock_guard lock(mutex_);
    if (loggedBadURL_ != *value) {
        loggedBadURL_ = *value;
        log(std::string(variable) + " is not an http URL (" + *value + "); using " + url);
    }
    return url;
}

std::string Engine::baseURL() const { return urlFrom("QUINTALIS_ENGINE_URL", port_); }

std::string Engine::airplayURL() const { return urlFrom("QUINTALIS_AIRPLAY_URL", airplayPort_); }

void Engine::handle(const HTTPRequest& request, Responder responder) {
    if (request.method == "POST" && actions().count(request.path)) {
        if (auto reason = pauseReason()) return responder.send(HTTPResponse::error(*reason, 423));
    }
    if (request.path == "/status" || request.path == "/") {
        responder = responder.adapted([this](HTTPResponse response) { return withAppFacts(std::move(response)); });
    }
    if (!routes_) return responder.send(HTTPResponse::error("not found", 404));
    routes_(request, std::move(responder));
}

HTTPResponse Engine::withAppFacts(HTTPResponse response) const {
    auto body = parseJSON(response.body);
    if (!body || !body->is_object()) return response;
    (*body)["app"] = "Quintalis";
    (*body)["version"] = info_.version();
    (*body)["paused"] = paused();
    response.body = serializeJSON(*body);
    return response;
}

}  // namespace quintalis
