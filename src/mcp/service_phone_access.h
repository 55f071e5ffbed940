#pragma once

#include "mcp/engine_link.h"
#include "base/http_client.h"
#include "mcp/phone_access.h"

namespace quintalis::mcp {

// PhoneAccess over HTTP: the engine API and the AirPlay capture service at
// the addresses `link` gives. When the engine stops answering, the link is
// asked to revive one; a question is then asked again, while an action that
// was under way fails once with a sentence saying so, since how much of it
// was done cannot be known. Holds no state of its own.
class ServicePhoneAccess final : public PhoneAccess {
public:
    ServicePhoneAccess(HTTPClient& http, EngineLink& link);

    PhoneList phones(const Cancellation& stop) override;
    Picture look(const Phone& phone, std::optional<int> maxEdge, const Cancellation& stop) override;
    void act(const Phone& phone, const std::string& path, JSON body, const Cancellation& stop) override;
    JSON waitToSettle(const Phone& phone, const SettleRule& rule, const Cancellation& stop) override;
    bool starting() const override { return link_.starting(); }

private:
    std::string notRunning() const;
    // A GET of the engine API; once more after a revival.
    HTTPReply askEngine(const std::string& pathAndQuery, Duration timeout, const Cancellation& stop);
    void addAirPlayPhone(PhoneList& list, const std::optional<JSON>& engineStatus, const Cancellation& stop);

    HTTPClient& http_;
    EngineLink& link_;
};

}  // namespace quintalis::mcp
