#include "phones/devices.h"

#include <algorithm>
#include <set>

#include "base/log.h"
#include "base/phone_names.h"
#include "base/text.h"

namespace quintalis {

std::filesystem::path pairingsFileLocation(const std::filesystem::path& applicationSupport,
                                           const std::optional<std::string>& supportFolder) {
    return applicationSupport / supportFolder.value_or("Skiffline") / "pairings.json";
}

Devices::Devices(ScreenCapture& screens, HIDPeripheral& peripheral, Clock& clock, std::filesystem::path pairingsFile)
    : screens_(screens), peripheral_(peripheral), clock_(clock), file_(std::move(pairingsFile)) {
    std::error_code ignored;
    std::filesystem::create_directories(file_.parent_path(), ignored);
}

Devices::~Devices() {
    alive_.end();
    screens_.setOnScreensChanged(nullptr);
    peripheral_.setOnHostsChanged(nullptr);
    peripheral_.sync([] {});  // no hosts-changed callback still running
}

void Devices::stop() {
    {
        std::lock_guard lock(lock_);
        stopped_ = true;
    }
    screens_.setOnScreensChanged(nullptr);
    peripheral_.setOnHostsChanged(nullptr);
    // In this order: each queue posts to the next one, and a matching pass
    // moves pointers through the inputs.
    delayQueue_.stop();
    matchQueue_.stop();
    std::vector<std::shared_ptr<Input>> inputs;
    {
        std::lock_guard lock(lock_);
        for (const auto& [host, input] : inputs_) inputs.push_back(input);
    }
    for (const auto& input : inputs) input->stop();
}

void Devices::start() {
    {
        std::lock_guard lock(lock_);
        pairings_ = loadPairings(file_, clock_.wallMillis());
    }
    auto watch = alive_.watch();
    auto trigger = [this, watch] {
        if (watch.alive()) scheduleMatch();
    };
    screens_.setOnScreensChanged(trigger);
    peripheral_.setOnHostsChanged(trigger);
}

std::vector<Device> Devices::all() {
    auto connected = peripheral_.connectedHosts();
    std::set<UUID> connectedSet(connected.begin(), connected.end());
    Pairings pairings;
    {
        std::lock_guard lock(lock_);
        pairings = pairings_;
    }
    std::vector<Device> devices;
    for (const auto& screen : screens_.all()) {
        Device device{screen, std::nullopt};
        if (auto paired = pairings.find(screen->id()); paired != pairings.end() && connectedSet.count(paired->second)) {
            device.host = paired->second;
        }
        devices.push_back(std::move(device));
    }
    return devices;
}

std::vector<UUID> Devices::unmatchedHosts() { return unmatchedAmong(all(), peripheral_.connectedHosts()); }

std::vector<UUID> Devices::unmatchedAmong(const std::vector<Device>& devices, const std::vector<UUID>& connected) {
    std::set<UUID> used;
    for (const auto& device : devices) {
        if (device.host) used.insert(*device.host);
    }
    std::vector<UUID> unmatched;
    for (const auto& host : connected) {
        if (!used.count(host)) unmatched.push_back(host);
    }
    return unmatched;
}

std::string Devices::describe(const std::vector<Device>& devices) {
    if (devices.empty()) return "No phones are plugged in.";
    std::string text = "Phones: ";
    for (size_t i = 0; i < devices.size(); ++i) {
        text += (i ? ", " : "") + devices[i].screen->name() + " (" + devices[i].id() + ")";
    }
    return text;
}

Device Devices::find(const std::optional<std::string>& id) {
    auto devices = all();
    if (!id || id->empty()) {
        if (devices.empty()) throw DeviceError("no iPhone screen: plug the iPhone in over USB and unlock it");
        if (devices.size() == 1) return devices.front();
        throw DeviceError(std::to_string(devices.size()) + " phones are connected, pass device. " + describe(devices));
    }
    auto found = phonesFitting(
        devices, *id, [](const Device& d) { return d.id(); }, [](const Device& d) { return d.screen->name(); });
    if (found.size() == 1) return found.front();
    if (found.size() > 1) {
        throw DeviceError("device \"" + *id + "\" matches " + std::to_string(found.size()) +
                          " phones, pass more of its id. " + describe(found));
    }
    throw DeviceError("no phone matches \"" + *id + "\". " + describe(devices));
}

std::shared_ptr<Input> Devices::input(const UUID& host) {
    std::lock_guard lock(lock_);
    auto& input = inputs_[host];
    if (!input) input = std::make_shared<Input>(host, peripheral_, clock_);
    return input;
}

std::shared_ptr<Input> Devices::input(const Device& device) {
    if (device.host) return input(*device.host);
    matchQueue_.sync([this] { runMatch(false, false); });
    Device again = find(device.id());
    if (again.host) return input(*again.host);
    if (!unmatchedHosts().empty()) {
        throw DeviceError("could not tell which Bluetooth connection is " + device.screen->name() +
                          ": unlock it, check AssistiveTouch is on, then POST /match");
    }
    throw DeviceError(device.screen->name() + " has no Bluetooth connection: pair \"" + peripheral_.localName() +
                      "\" in its Bluetooth settings");
}

void Devices::pair(const Device& device, const UUID& host) {
    std::lock_guard lock(lock_);
    Pairings changed = pairings_;
    assignHost(changed, device.id(), host);
    // Whoever asked counts on the pairing after a restart too: one the file
    // could not keep is refused, and the pairings stay as they were.
    if (auto saved = savePairings(file_, changed); !saved.ok()) throw DeviceError(saved.message());
    pairings_ = std::move(changed);
}

std::map<std::string, UUID> Devices::match(bool force, bool probe) {
    std::map<std::string, UUID> found;
    matchQueue_.sync([&] { found = runMatch(force, probe); });
    return found;
}

void Devices::store(const std::map<std::string, UUID>& found) {
    for (const auto& [screen, host] : found) assignHost(pairings_, screen, host);
    // What matching found holds for this run even when the file cannot keep it.
    if (auto saved = savePairings(file_, pairings_); !saved.ok()) log(saved.message());
}

void Devices::scheduleMatch() {
    {
        std::lock_guard lock(lock_);
        if (stopped_) return;
        if (std::exchange(matchPending_, true)) return;  // a pass is coming and will see the current state
    }
    delayQueue_.async([this] {
        clock_.sleep(seconds(kScheduleDelay));
        {
            std::lock_guard lock(lock_);
            if (stopped_) return;
        }
        matchQueue_.async([this] {
            {
                std::lock_guard lock(lock_);
                matchPending_ = false;
            }
            runMatch(false, false);
        });
    });
}

}  // namespace quintalis
