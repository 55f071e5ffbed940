#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/clock.h"
#include "base/liveness.h"
#include "base/serial_queue.h"
#include "bluetooth/hid_peripheral.h"
#include "bluetooth/input.h"
#include "phones/device.h"
#include "phones/pairings_store.h"
#include "phones/screen_capture.h"

namespace quintalis {

// The registry of phones: which USB screen belongs to which Bluetooth host
// (kept in the pairings file), which phone a request means, and which Input
// drives it. Matching passes that find the pairings run one at a time on
// "quintalis.match".
//
// Threads: `lock_` guards pairings, inputs and the match-pending flag and is
// held only for short copies and updates. Request handlers may call every
// public member concurrently. match() and input(for a phone without a host)
// block until a matching pass has run; never call them from the matching
// queue.
class Devices {
public:
    static constexpr double kScheduleDelay = 1.5;

    Devices(ScreenCapture& screens, HIDPeripheral& peripheral, Clock& clock, std::filesystem::path pairingsFile);
    ~Devices();

    // Loads the pairings and starts following screen and host changes.
    void start();
    // For the ordered stop, before the screens and the radio it uses: stops
    // following their changes, lets a pass under way finish and ends the
    // matching and the inputs' threads. Nothing is destroyed.
    void stop();

    std::vector<Device> all();
    std::vector<UUID> unmatchedHosts();
    // The connected hosts that none of the phones has.
    static std::vector<UUID> unmatchedAmong(const std::vector<Device>& devices, const std::vector<UUID>& connected);
    // The phone a request names: exact id, then name, then the one phone whose
    // id starts with it, ignoring case. A prefix of several ids is an error.
    Device find(const std::optional<std::string>& id);
    std::shared_ptr<Input> input(const Device& device);
    std::shared_ptr<Input> input(const UUID& host);
    void pair(const Device& device, const UUID& host);
    std::map<std::string, UUID> match(bool force, bool probe);

    const std::filesystem::path& pairingsFile() const { return file_; }

private:
    static std::string describe(const std::vector<Device>& devices);
    void scheduleMatch();
    std::map<std::string, UUID> runMatch(bool force, bool alwaysProbe);
    // Moves the host's pointer between two spots and returns which of the
    // screens (by index) showed it there, if one clearly did.
    std::optional<size_t> probe(const UUID& host, const std::vector<ScreenRef>& unmatched);
    void store(const std::map<std::string, UUID>& found);

    ScreenCapture& screens_;
    HIDPeripheral& peripheral_;
    Clock& clock_;
    const std::filesystem::path file_;

    std::mutex lock_;
    Pairings pairings_;
    std::map<UUID, std::shared_ptr<Input>> inputs_;
    bool matchPending_ = false;
    bool stopped_ = false;  // no automatic pass any more

    Liveness alive_;
    SerialQueue matchQueue_{"quintalis.match"};
    // Waits out the delay before an automatic pass without holding up the
    // matching queue, so a requested pass is not kept waiting behind it.
    SerialQueue delayQueue_{"quintalis.match.delay"};
};

// Where the pairings file lives: <application support>/<support folder>/pairings.json.
std::filesystem::path pairingsFileLocation(const std::filesystem::path& applicationSupport,
                                           const std::optional<std::string>& supportFolder);

}  // namespace quintalis
