#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "base/log.h"
#include "bluetooth/gatt_table.h"
#include "engine/routes.h"
#include "imaging/pixel_buffer.h"
#include "support/fake_capture_devices.h"
#include "support/fake_peripheral.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

// Pauses return at once, so a ten-second swipe costs only its reports; and
// nothing is recorded, so millions of gestures take no memory.
class InstantClock final : public Clock {
public:
    int64_t wallMillis() const override { return 1'767'225'600'000 + elapsed_.load() / 1'000'000; }
    MonotonicTime now() const override { return MonotonicTime() + Duration(elapsed_.load()); }
    void sleep(Duration duration) override {
        if (duration > Duration::zero()) elapsed_ += duration.count();
    }

private:
    std::atomic<Duration::rep> elapsed_{0};
};

// One phone, paired with its connected host, so that every action reaches
// the host's input queue without a matching pass.
struct Rig {
    static constexpr const char* kPhone = "00008120-000000000001";

    Rig() {
        setLogSink([](const std::string&) {});
        peripheral.start();
        for (int i = 0; i < 12; ++i) peripheral.sync([] {});
        for (const auto& characteristic : role.manager->services.at(1)->characteristics) {
            if (inputReportOf(*characteristic)) role.manager->subscribe(host, characteristic);
        }
        for (int i = 0; i < 4; ++i) peripheral.sync([] {});
        capture.start();
        captureDevices.plug(iPhone(kPhone, "Phone"));
        captureDevices.push(kPhone, std::make_shared<PixelBuffer>(1170, 2532));
        std::filesystem::create_directories(pairings.parent_path());
        std::ofstream(pairings) << "{\"" << kPhone << "\": \"" << host.string() << "\"}\n";
        devices.start();
    }

    TempDir dir;
    InstantClock clock;
    UUID host = UUID::fromName("host 1");
    FakePeripheralRole role;
    HIDPeripheral peripheral{role, "Skiffline"};
    FakeCaptureDevices captureDevices;
    ScreenCapture capture{captureDevices, clock};
    std::filesystem::path pairings = dir.path() / "Skiffline" / "pairings.json";
    Devices devices{capture, peripheral, clock, pairings};
    Routes routes{peripheral, devices, clock};
};

// Waits for the one answer a request gets.
class Answer {
public:
    Responder responder() {
        return Responder([this](std::optional<HTTPResponse> response) {
            std::lock_guard lock(mutex_);
            response_ = std::move(response);
            done_ = true;
            changed_.notify_all();
        });
    }
    std::optional<HTTPResponse> wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return done_; });
        return response_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::optional<HTTPResponse> response_;
};

}  // namespace

// The first byte picks the action route, the rest is its JSON body. Whatever
// the body holds, the answer is success or a client error with a JSON
// message: never "internal error", which would mean a request slipped past
// the checks into code that did not expect it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig rig;
    static const std::vector<std::string> paths(Routes::actions().begin(), Routes::actions().end());
    if (size == 0) return 0;
    auto body = parseJSON(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    if (!body || !body->is_object()) return 0;  // the request reader refuses these before any route
    HTTPRequest request{"POST", paths[data[0] % paths.size()], {}, std::move(*body)};
    Answer answer;
    rig.routes.handle(request, answer.responder());
    auto response = answer.wait();
    if (!response || response->status == 500) __builtin_trap();
    if (response->status != 200 && !parseJSON(response->body)) __builtin_trap();
    static int answered = 0;
    if (++answered % 64 == 0) rig.peripheral.sync([] { rig.role.manager->updates.clear(); });
    return 0;
}
