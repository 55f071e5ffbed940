#pragma once

#include <cmath>
#include <condition_variable>

#include "bluetooth/gatt_table.h"
#include "phones/devices.h"
#include "support/fake_capture_devices.h"
#include "support/fake_clock.h"
#include "support/fake_peripheral.h"
#include "support/temp_dir.h"

namespace quintalis::testing {

// A fake clock whose sleeps also let the simulated world catch up: reports
// queued on the Bluetooth queue reach the test phones and their new frames
// reach the screens before the sleeper goes on, as they would within a real
// pause. A test may hook sleeps of a given length to hold them.
class SettlingClock final : public Clock {
public:
    int64_t wallMillis() const override { return inner_.wallMillis(); }
    MonotonicTime now() const override { return inner_.now(); }
    void sleep(Duration duration) override {
        inner_.sleep(duration);
        std::function<void(Duration)> hook;
        {
            std::lock_guard lock(mutex_);
            hook = onSleep_;
        }
        if (settle) settle();
        if (hook) hook(duration);
    }
    void setOnSleep(std::function<void(Duration)> hook) {
        std::lock_guard lock(mutex_);
        onSleep_ = std::move(hook);
    }
    std::function<void()> settle;

private:
    FakeClock inner_;
    std::mutex mutex_;
    std::function<void(Duration)> onSleep_;
};

// A simulated phone for matching: a screen that draws the AssistiveTouch
// pointer wherever its host's absolute pointer reports put it.
struct TestPhone {
    std::string id;
    std::string name;
    UUID host;
    int width = 1170;
    int height = 2532;
    bool pointerVisible = true;  // AssistiveTouch on
    bool locked = false;         // no frames
    bool flicker = false;        // the whole picture changes with every report
    int reports = 0;
};

// Peripheral, screens and registry wired to fakes, with phones that close
// the loop from pointer reports to pictures.
class PhoneRig {
public:
    explicit PhoneRig(std::vector<TestPhone> phones) : phones_(std::move(phones)) {
        clock.settle = [this] {
            peripheral.sync([] {});
        };
        peripheral.start();
        for (int i = 0; i < 12; ++i) peripheral.sync([] {});
        peripheral.sync([this] { role.manager->onUpdate = [this](const auto& update) { deliver(update); }; });
        capture.start();
        for (auto& phone : phones_) {
            plug(phone);
            connect(phone);
        }
        for (int i = 0; i < 4; ++i) peripheral.sync([] {});
        // Count from here: the neutral reports of subscribing are not moves.
        peripheral.sync([this] {
            for (auto& phone : phones_) phone.reports = 0;
        });
    }

    void plug(TestPhone& phone) {
        captureDevices.plug(iPhone(phone.id, phone.name));
        draw(phone, std::nullopt);
    }
    void connect(const TestPhone& phone) {
        for (const auto& characteristic : role.manager->services.at(1)->characteristics) {
            if (inputReportOf(*characteristic)) role.manager->subscribe(phone.host, characteristic);
        }
        for (int i = 0; i < 4; ++i) peripheral.sync([] {});
    }
    TestPhone& phone(size_t index) { return phones_.at(index); }

    // Every report of one kind sent to one host since it connected, less the
    // neutral one that subscribing sends first.
    std::vector<Bytes> sent(const UUID& host, uint8_t reportID) {
        std::vector<Bytes> out;
        peripheral.sync([&] {
            for (const auto& update : role.manager->updates) {
                const auto& reference = update.characteristic->descriptors;
                if (reference.empty() || reference[0].value[0] != reportID) continue;
                if (update.centrals == std::vector<UUID>{host}) out.push_back(update.value);
            }
        });
        if (!out.empty()) out.erase(out.begin());
        return out;
    }

    TempDir dir;
    SettlingClock clock;
    FakePeripheralRole role;
    HIDPeripheral peripheral{role, "Skiffline"};
    FakeCaptureDevices captureDevices;
    ScreenCapture capture{captureDevices, clock};
    Devices devices{capture, peripheral, clock, dir.path() / "Skiffline" / "pairings.json"};

private:
    void deliver(const FakePeripheralManager::Update& update) {
        if (inputReportOf(*update.characteristic) != ReportID::absolutePointer) return;
        auto pointer = *decodeAbsolutePointerReport(update.value);
        double x = pointerFraction(pointer.x);
        double y = pointerFraction(pointer.y);
        for (auto& phone : phones_) {
            for (const auto& central : update.centrals) {
                if (central == phone.host) {
                    ++phone.reports;
                    draw(phone, std::pair{x, y});
                }
            }
        }
    }

    void draw(const TestPhone& phone, std::optional<std::pair<double, double>> pointer) {
        if (phone.locked) return;
        uint8_t background = phone.flicker && phone.reports % 2 ? 200 : 110;
        auto frame = std::make_shared<PixelBuffer>(phone.width, phone.height);
        std::fill(frame->mutableData(), frame->mutableData() + frame->bytesPerRow() * phone.height, background);
        if (pointer && phone.pointerVisible) {
            int cx = static_cast<int>(pointer->first * phone.width);
            int cy = static_cast<int>(pointer->second * phone.height);
            constexpr int kRadius = 50;
            for (int y = std::max(cy - kRadius, 0); y < std::min(cy + kRadius, phone.height); ++y) {
                for (int x = std::max(cx - kRadius, 0); x < std::min(cx + kRadius, phone.width); ++x) {
                    if (std::hypot(x - cx, y - cy) > kRadius) continue;
                    uint8_t* pixel = frame->mutableRow(y) + x * 4;
                    pixel[0] = pixel[1] = pixel[2] = 30;
                }
            }
        }
        captureDevices.push(phone.id, frame);
    }

    std::vector<TestPhone> phones_;
};

inline TestPhone testPhone(int n, std::string name) {
    return TestPhone{"00008120-00000000000" + std::to_string(n), std::move(name), UUID::fromName("host " + std::to_string(n))};
}

}  // namespace quintalis::testing
