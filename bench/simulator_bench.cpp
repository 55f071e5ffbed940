// The time to render one frame of a virtual iPhone: a whole page, and a
// pointer move over an already rendered page.
#include <benchmark/benchmark.h>

#include "simulator/virtual_phone.h"

using namespace quintalis;
using namespace quintalis::simulator;

namespace {

void RenderPage(benchmark::State& state) {
    VirtualPhone phone(0, {});
    bool toggle = false;
    for (auto _ : state) {
        // A key press into nothing changes no page, so open and leave Settings instead.
        phone.receive(ReportID::absolutePointer, absolutePointerReport(0, pointerCoordinate(0.15), pointerCoordinate(0.13)));
        phone.receive(ReportID::relativeMouse, {1, 0, 0, 0});
        phone.receive(ReportID::relativeMouse, {0, 0, 0, 0});
        if (toggle) phone.receive(ReportID::consumer, consumerReport(kHomeUsage));
        toggle = !toggle;
        benchmark::DoNotOptimize(phone.frame());
    }
}

void PointerMove(benchmark::State& state) {
    VirtualPhone phone(0, {});
    phone.frame();
    uint16_t x = 0;
    for (auto _ : state) {
        x = static_cast<uint16_t>((x + 997) % 32767);
        phone.receive(ReportID::absolutePointer, absolutePointerReport(0, x, 16000));
        benchmark::DoNotOptimize(phone.frame());
    }
}

}  // namespace

BENCHMARK(RenderPage)->Unit(benchmark::kMillisecond);
BENCHMARK(PointerMove)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
