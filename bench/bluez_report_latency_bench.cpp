// How long a report takes from Input's send to the bytes on the phone's
// notify socket, through the HID peripheral, the BlueZ backend and a fake
// bluetoothd on a private bus. Reports p50 and p99 over 1,000 reports.
#include <benchmark/benchmark.h>
#include <poll.h>

#include <algorithm>

#include "bluetooth/hid_peripheral.h"
#include "platform/linux/bluez/bluez_names.h"
#include "platform/linux/bluez/bluez_peripheral_role.h"
#include "support/eventually.h"
#include "support/fake_bluez.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

void BM_ReportToSocket(benchmark::State& state) {
    PrivateBus bus;
    FakeBluez bluez(bus);
    bluez.addAdapter("hci0", true);
    bluez.start();
    BluezPeripheralRole role([&] { return bus.connect(); });
    HIDPeripheral peripheral(role, "Skiffline");
    peripheral.start();
    eventually([&] { return peripheral.state() == "advertising as Skiffline"; });
    std::string device = bluez.connect("hci0", "5C:AD:BA:00:00:0A");
    auto reports = bluez.characteristics("hci0", "1812");
    for (size_t i = 4; i < 8; ++i) bluez.enableNotifications("hci0", reports[i], device);
    const UUID host = bluez::centralId("5C:AD:BA:00:00:0A");
    eventually([&] { return peripheral.connectedHosts().size() == 1; });
    const std::string pointer = reports[5];
    eventually([&] { return bluez.received("hci0", pointer).size() == 1; });  // the neutral report
    pollfd socket{bluez.notifySocket("hci0", pointer), POLLIN, 0};

    std::vector<double> micros;
    uint16_t x = 0;
    size_t expected = 1;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        peripheral.send(ReportID::absolutePointer, absolutePointerReport(0, ++x, 0), host);
        ++expected;
        while (bluez.received("hci0", pointer).size() < expected) poll(&socket, 1, 1000);
        auto took = std::chrono::steady_clock::now() - start;
        micros.push_back(std::chrono::duration<double, std::micro>(took).count());
        state.SetIterationTime(std::chrono::duration<double>(took).count());
    }
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}
BENCHMARK(BM_ReportToSocket)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
