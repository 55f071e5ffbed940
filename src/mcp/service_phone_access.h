#pragma once

#include "mcp/http_client.h"
#include "mcp/phone_access.h"

namespace quintalis::mcp {

// PhoneAccess over HTTP: the engine API at `engineURL`, the AirPlay capture
// service at `airplayURL`. Holds no state; each call is its own round trips.
class ServicePhoneAccess final : public PhoneAccess {
public:
    ServicePhoneAccess(HTTPClient& http, std::string engineURL, std::string airplayURL);

    PhoneList phones() override;
    Picture look(const Phone& phone, int maxEdge) override;
    void act(const Phone& phone, const std::string& path, JSON body) override;
    JSON waitToSettle(const Phone& phone, const SettleRule& rule) override;

private:
    std::string notRunning() const;
    void addAirPlayPhone(PhoneList& list, const std::optional<JSON>& engineStatus);

    HTTPClient& http_;
    const std::string engineURL_;
    const std::string airplayURL_;
};

}  // namespace quintalis::mcp
