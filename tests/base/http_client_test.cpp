#include <gtest/gtest.h>

#include "base/http_client.h"
#include "support/stub_service.h"

using namespace quintalis;
using namespace quintalis::testing;

// What every loopback caller (the app's polling, the port check, the MCP
// server) now shares: a service that talks too much or not at all cannot
// fill the caller's memory or hold it for ever.
TEST(HTTPClient, ABodyPastTheCapOrATimeoutOfZeroEndsTheRequest) {
    StubService service;
    HTTPResponse huge;
    huge.body = std::string(kMaxHTTPBody + 1, 'x');
    service.answerWith(huge);
    HTTPClient http;
    EXPECT_THROW(http.get(service.url() + "/status", std::chrono::seconds(60)), Unreachable);
    huge.body.pop_back();
    service.answerWith(huge);
    EXPECT_EQ(http.get(service.url() + "/status", std::chrono::seconds(60)).body.size(), kMaxHTTPBody);

    // libcurl reads a zero limit as none at all.
    service.holdAnswers();
    EXPECT_THROW(http.get(service.url() + "/status", Duration::zero()), Unreachable);
    service.releaseAnswers();
}
