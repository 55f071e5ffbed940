// Thirty-two clients at once against the built program's two virtual phones:
// screenshots, taps and status, with p50 and p99 per route, and every failed
// or crossed answer (one about another phone than the one asked for).
// Usage: build/bench/load_bench [seconds, default 20]
#include <cstdio>
#include <cstdlib>

#include "support/engine_process.h"
#include "support/load_run.h"

using namespace quintalis;
using namespace quintalis::testing;

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    TempDir home;
    EngineProcess program("2", home.path());
    std::vector<std::string> devices;
    program.waitFor([&] {
        const JSON status = program.json(program.get("/status"));
        devices.clear();
        for (const auto& device : status["devices"]) {
            if (device["bluetooth"] == true) devices.push_back(device["id"]);
        }
        return devices.size() == 2;
    });
    if (devices.size() != 2) {
        std::fputs("the two virtual phones did not pair\n", stderr);
        return 1;
    }
    LoadFigures figures = runLoad(program.port(), devices, 32, std::chrono::seconds(seconds));
    std::printf("32 clients, 2 phones, %d s\n%s", seconds, figures.table().c_str());
    for (const auto& problem : figures.problems) std::printf("problem: %s\n", problem.c_str());
    return figures.failed() + figures.crossed() == 0 ? 0 : 1;
}
