#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quintalis::testing {

// What many clients at once got from the engine, route by route.
struct RouteFigures {
    std::vector<double> millis;  // time to the whole answer, one per request
    int failed = 0;               // no answer, or not 200
    int crossed = 0;              // answered for another phone than the one asked for
};

struct LoadFigures {
    std::map<std::string, RouteFigures> routes;  // "GET /screenshot", "POST /tap", "GET /status"
    std::vector<std::string> problems;           // the first few failed or crossed answers, for the log

    int failed() const;
    int crossed() const;
    // One line per route: requests, p50 and p99 in ms, failed, crossed.
    std::string table() const;
};

// `clients` threads, each on its own connection per request, for `length`
// against the engine on 127.0.0.1:port. Client i asks about devices[i % n]:
// every fourth one taps its phone (so no phone holds more taps waiting than
// it accepts), every fourth asks for /status, the others take screenshots.
LoadFigures runLoad(uint16_t port, const std::vector<std::string>& devices, int clients,
                    std::chrono::milliseconds length);

// The p-th percentile (0 to 100) by the nearest rank; 0 for no values.
double percentile(std::vector<double> values, double p);

}  // namespace quintalis::testing
