#include "engine/responder.h"

#include <atomic>

#include "base/log.h"

namespace quintalis {
namespace {

HTTPResponse internalError() { return HTTPResponse::error("internal error", 500); }

}  // namespace

struct Responder::State {
    State(Deliver deliver, Gone gone, Apart apart)
        : deliver(std::move(deliver)), gone(std::move(gone)), apart(std::move(apart)) {}
    ~State() {
        if (settled.exchange(true)) return;
        log("http: a request was left without an answer");
        deliver(internalError());
    }
    bool settle() { return !settled.exchange(true); }

    Deliver deliver;
    Gone gone;
    Apart apart;
    std::atomic<bool> settled{false};
};

Responder::Responder(Deliver deliver, Gone gone, Apart apart)
    : state_(std::make_shared<State>(std::move(deliver), std::move(gone), std::move(apart))) {}

void Responder::send(HTTPResponse response) const {
    if (state_->settle()) state_->deliver(std::move(response));
}

void Responder::drop() const {
    if (state_->settle()) state_->deliver(std::nullopt);
}

void Responder::failInternally(const HTTPRequest& request, const std::string& what) const {
    if (!state_->settle()) return;
    log("http: " + loggable(request.method) + " " + loggable(request.path) + " failed: " + what);
    state_->deliver(internalError());
}

bool Responder::clientGone() const { return state_->gone && state_->gone(); }

void Responder::waitApart() const {
    if (state_->apart) state_->apart();
}

Responder Responder::adapted(std::function<HTTPResponse(HTTPResponse)> change) const {
    Responder inner = *this;
    return Responder(
        [inner, change = std::move(change)](std::optional<HTTPResponse> response) {
            if (response) {
                inner.send(change(std::move(*response)));
            } else {
                inner.drop();
            }
        },
        [inner] { return inner.clientGone(); }, [inner] { inner.waitApart(); });
}

RequestHandler answeringAtOnce(ImmediateHandler handler) {
    return [handler = std::move(handler)](const HTTPRequest& request, Responder responder) {
        responder.send(handler(request));
    };
}

}  // namespace quintalis
