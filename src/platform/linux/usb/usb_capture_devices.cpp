#include "platform/linux/usb/usb_capture_devices.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "base/log.h"
#include "base/queue_timers.h"
#include "platform/usb/usb_ids.h"

namespace quintalis {
namespace {

constexpr auto kRediscoverInterval = std::chrono::milliseconds(100);
constexpr char kGiveUsbmuxdBack[] = "`sudo systemctl unmask --runtime usbmuxd && sudo systemctl start usbmuxd`";
// A capture that ran this long before it ended was no failure to start: the
// next failure waits the shortest time again.
constexpr auto kSteady = std::chrono::seconds(30);
// How long a stop waits for a revealed phone to come back, to hide its
// capture configuration again: well within the stop's own last resort.
constexpr auto kHideAtStopWait = std::chrono::seconds(2);

std::string waitText(Duration wait) {
    return std::to_string(static_cast<long long>(std::ceil(toSeconds(wait)))) + " s";
}

const UsbInterface* findInterface(const UsbConfiguration& configuration, uint8_t subclass) {
    for (const auto& interface : configuration.interfaces) {
        if (interface.interfaceClass == usbscreen::kVendorInterfaceClass && interface.subclass == subclass) return &interface;
    }
    return nullptr;
}

// The configuration holding an interface of this subclass; the last one, as
// the phone lists usbmux in more than one.
const UsbConfiguration* findConfiguration(const UsbDeviceInfo& info, uint8_t subclass) {
    const UsbConfiguration* found = nullptr;
    for (const auto& configuration : info.configurations) {
        if (findInterface(configuration, subclass)) found = &configuration;
    }
    return found;
}

std::string hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::string permissionReason() {
    return "no permission to open the iPhone's USB device: install the udev rule with `sudo quintalis install-udev-rule`, "
           "then plug the iPhone in again";
}



}  // namespace

// What the caller holds: the cable session, which the registry forgets
// before it goes.
class UsbCaptureDevices::Handle final : public CaptureSession {
public:
    Handle(UsbCaptureDevices& owner, std::unique_ptr<CableSession> session, std::string name)
        : owner_(owner), watch_(owner.alive_.watch()), session_(std::move(session)), name_(std::move(name)) {}
    ~Handle() override {
        if (watch_.alive()) owner_.forget(session_.get());
        stop();
    }
    void stop() override {
        session_->stop();
        if (!stopped_.exchange(true) && watch_.alive()) owner_.remindOfUsbmuxd(name_);
    }
    bool ended() const override { return session_->ended(); }

private:
    UsbCaptureDevices& owner_;
    Liveness::Watch watch_;
    std::unique_ptr<CableSession> session_;
    const std::string name_;
    std::atomic<bool> stopped_{false};
};

std::string udidOfSerial(std::string serial) {
    std::erase(serial, '\0');
    if (serial.size() == 24) serial.insert(8, "-");
    return serial;
}

UsbCaptureDevices::UsbCaptureDevices(UsbBus& bus, PhoneLockdown& lockdown, Clock& clock, CableTimeouts timeouts,
                                     MainThread* timers)
    : bus_(bus),
      lockdown_(lockdown),
      clock_(clock),
      timeouts_(timeouts),
      ownTimers_(timers ? nullptr : std::make_unique<QueueTimers>(hotplug_)),
      timers_(timers ? *timers : *ownTimers_) {
    auto watch = alive_.watch();
    bus_.addHotplugObserver([this, watch] {
        if (watch.alive()) notifyObservers();
    });
}

void UsbCaptureDevices::notifyObservers() {
    auto watch = alive_.watch();
    hotplug_.async([this, watch] {
        if (!watch.alive()) return;
        std::vector<std::function<void()>> observers;
        {
            std::lock_guard lock(mutex_);
            observers = observers_;
        }
        for (auto& observer : observers) observer();
    });
}

UsbCaptureDevices::~UsbCaptureDevices() {
    alive_.end();
    stopAll();
    hotplug_.sync([] {});
}

std::vector<UsbCaptureDevices::Found> UsbCaptureDevices::apple() {
    std::vector<Found> found;
    for (auto& info : bus_.devices()) {
        if (info.vendor != usbscreen::kAppleVendor || info.serial.empty()) continue;
        if (!findConfiguration(info, usbscreen::kUsbmuxSubclass) && !findConfiguration(info, usbscreen::kCaptureSubclass)) continue;
        std::string udid = udidOfSerial(info.serial);
        found.push_back(Found{std::move(info), std::move(udid)});
    }
    return found;
}

std::vector<CaptureDeviceInfo> UsbCaptureDevices::discover() {
    const std::vector<Found> phones = apple();
    auto describe = [](const Found& phone, const PhoneFacts& facts) {
        CaptureDeviceInfo device{phone.udid, "iPhone", "iOS Device (" + hex4(phone.info.vendor) + ":" + hex4(phone.info.product) + ")", true};
        if (!facts.name.empty()) device.localizedName = facts.name;
        if (!facts.productType.empty()) device.modelID = "iOS Device (" + facts.productType + ")";
        return device;
    };
    std::vector<CaptureDeviceInfo> devices;
    std::vector<Found> unknown;
    {
        std::lock_guard lock(mutex_);
        for (const auto& phone : phones) {
            auto known = facts_.find(phone.info.address);
            if (known != facts_.end()) {
                devices.push_back(describe(phone, known->second));
                continue;
            }
            // Asked once per plug: lockdown answers slowly, and not at all without trust.
            if (!stopped_ && asking_.insert(phone.info.address).second) unknown.push_back(phone);
            // Back at a new address because its capture asked it to: dropping
            // it meanwhile would end the capture its owner is watching.
            auto named = lastFacts_.find(phone.udid);
            if (named != lastFacts_.end() && capturingLocked(phone.udid)) devices.push_back(describe(phone, named->second));
        }
        // A phone re-enumerating at our own request is still the phone being captured.
        for (const auto& entry : switching_) {
            const std::string& udid = entry.first;
            if (std::none_of(devices.begin(), devices.end(), [&](const auto& d) { return d.uniqueID == udid; })) devices.push_back(entry.second);
        }
    }
    if (!unknown.empty()) {
        auto watch = alive_.watch();
        discovery_.async([this, watch, unknown = std::move(unknown)] {
            if (watch.alive()) learn(unknown);
        });
    }
    return devices;
}

void UsbCaptureDevices::learn(const std::vector<Found>& phones) {
    std::vector<PhoneFacts> learnt;
    for (const auto& phone : phones) {
        // A stop ends the asking, as it holds up the stop and no one would capture the phone.
        if (stopped()) return;
        learnt.push_back(lockdown_.facts(phone.udid).value_or(PhoneFacts{}));
        std::unique_ptr<UsbDeviceHandle> probe;
        openNoting(phone.info.address, probe);
    }
    {
        // All at once, so that phones plugged in together are listed together.
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < phones.size(); ++i) {
            facts_[phones[i].info.address] = learnt[i];
            lastFacts_[phones[i].udid] = learnt[i];
            asking_.erase(phones[i].info.address);
        }
        if (stopped_) return;
    }
    notifyObservers();
}

bool UsbCaptureDevices::capturingLocked(const std::string& udid) const {
    return switching_.count(udid) ||
           std::any_of(sessions_.begin(), sessions_.end(), [&](const auto& entry) { return entry.second == udid; });
}

void UsbCaptureDevices::addConnectionObserver(std::function<void()> observer) {
    std::lock_guard lock(mutex_);
    observers_.push_back(std::move(observer));
}

UsbStatus UsbCaptureDevices::openNoting(const std::string& address, std::unique_ptr<UsbDeviceHandle>& handle) {
    UsbStatus status = bus_.open(address, handle);
    std::lock_guard lock(mutex_);
    if (status == UsbStatus::access) deniedReason_ = permissionReason();
    if (status == UsbStatus::ok) deniedReason_.clear();
    return status;
}

CaptureAuthorization UsbCaptureDevices::authorizationStatus() {
    std::lock_guard lock(mutex_);
    return deniedReason_.empty() ? CaptureAuthorization::authorized : CaptureAuthorization::denied;
}

std::string UsbCaptureDevices::authorizationReason() {
    std::lock_guard lock(mutex_);
    return deniedReason_;
}

void UsbCaptureDevices::requestAccess(std::function<void(bool)> answer) {
    // Nothing to ask: the device nodes' permissions decide, and discovery
    // finds out. The phones found are opened on discovery_ after this task,
    // so the answer, queued behind them, knows what they said.
    auto watch = alive_.watch();
    discovery_.async([this, watch, answer = std::move(answer)]() mutable {
        if (!watch.alive()) return;
        discover();
        discovery_.async([this, watch, answer = std::move(answer)] {
            if (watch.alive()) answer(authorizationStatus() != CaptureAuthorization::denied);
        });
    });
}

std::unique_ptr<CaptureSession> UsbCaptureDevices::startCapture(const CaptureDeviceInfo& device, SerialQueue& queue,
                                                                std::function<void(CapturedFrame)> onFrame) {
    std::optional<Found> phone;
    for (auto& candidate : apple()) {
        if (candidate.udid == device.uniqueID) phone = std::move(candidate);
    }
    if (!phone) throw CaptureStartError("cannot capture " + device.localizedName + ": it is no longer on the USB bus");
    refuseWhileWaiting(device.uniqueID, device.localizedName);
    {
        std::lock_guard lock(mutex_);
        if (stopped_) throw stoppingError(device.localizedName);
        switching_[device.uniqueID] = device;
        ++starting_;
    }
    // Last out of every way this start ends: stopAll waits for it, so a
    // start it cut short has given its phone back by then.
    struct Started {
        UsbCaptureDevices& owner;
        ~Started() {
            std::lock_guard lock(owner.mutex_);
            --owner.starting_;
            owner.startEnded_.notify_all();
        }
    } started{*this};
    std::unique_ptr<CableSession> session;
    try {
        session = open(*phone, device.localizedName, queue, std::move(onFrame));
    } catch (const CaptureStartError& error) {
        {
            std::lock_guard lock(mutex_);
            switching_.erase(device.uniqueID);
            if (stopped_) throw;  // no fault of the phone's: nothing to try again
        }
        const std::string prefix = "cannot capture " + device.localizedName + ": ";
        std::string why = error.what();
        if (why.rfind(prefix, 0) == 0) why.erase(0, prefix.size());
        Duration wait = failed(device.uniqueID, why, false);
        throw CaptureStartError(error.what() + std::string("; trying again in ") + waitText(wait));
    } catch (...) {
        std::lock_guard lock(mutex_);
        switching_.erase(device.uniqueID);
        throw;
    }
    {
        std::lock_guard lock(mutex_);
        switching_.erase(device.uniqueID);
        if (!stopped_) {
            sessions_[session.get()] = device.uniqueID;
            return std::make_unique<Handle>(*this, std::move(session), device.localizedName);
        }
    }
    // Opened while the process stopped: the phone goes straight back.
    session->stop();
    throw stoppingError(device.localizedName);
}

// Whether the phone is in its capture configuration already.
bool UsbCaptureDevices::leftInCapture(UsbDeviceHandle& handle, const UsbDeviceInfo& info) {
    const UsbConfiguration* capture = findConfiguration(info, usbscreen::kCaptureSubclass);
    if (!capture) return false;
    int active = 0;
    handle.activeConfiguration(active);
    return active == capture->value;
}

std::unique_ptr<CableSession> UsbCaptureDevices::open(const Found& phone, const std::string& name, SerialQueue& queue,
                                                      std::function<void(CapturedFrame)> onFrame) {
    auto fail = [&](const std::string& why) -> CaptureStartError { return CaptureStartError("cannot capture " + name + ": " + why); };
    auto openAt = [&](const std::string& address) {
        std::unique_ptr<UsbDeviceHandle> handle;
        UsbStatus status = openNoting(address, handle);
        if (status == UsbStatus::access) throw fail(permissionReason());
        if (status != UsbStatus::ok) throw fail("cannot open its USB device (" + usbStatusText(status) + ")");
        return handle;
    };
    const UsbConfiguration* usbmux = findConfiguration(phone.info, usbscreen::kUsbmuxSubclass);
    const uint8_t usbmuxValue = usbmux ? usbmux->value : 0;
    UsbDeviceInfo info = phone.info;
    auto handle = openAt(info.address);
    auto restore = [&] { hideCaptureConfiguration(*handle, usbmuxValue, timeouts_.transfer); };

    if (leftInCapture(*handle, info)) {
        // Left in the capture configuration by a capture that did not end
        // well: restore it first, unless another program is capturing.
        const UsbConfiguration* capture = findConfiguration(info, usbscreen::kCaptureSubclass);
        const UsbInterface* interface = findInterface(*capture, usbscreen::kCaptureSubclass);
        if (handle->claimInterface(interface->number) == UsbStatus::busy) throw fail("another program is capturing its screen");
        handle->releaseInterface(interface->number);
        log(name + " over USB: restoring the configuration a previous capture left behind");
        restore();
        std::erase_if(info.configurations, [&](const UsbConfiguration& c) { return c.value == capture->value; });
    }
    if (!findConfiguration(info, usbscreen::kCaptureSubclass)) {
        info = reveal(phone.udid, name, usbmuxValue, std::move(handle));
        handle = openAt(info.address);
    }

    const UsbConfiguration* capture = findConfiguration(info, usbscreen::kCaptureSubclass);
    const UsbInterface* interface = findInterface(*capture, usbscreen::kCaptureSubclass);
    CableSession::Target target{phone.udid, name, info.address, capture->value, interface->number, 0, 0, usbmuxValue};
    for (const auto& endpoint : interface->endpoints) {
        if (endpoint.isBulkIn() && !target.in) target.in = endpoint.address;
        if (endpoint.isBulkOut() && !target.out) target.out = endpoint.address;
    }
    if (!target.in || !target.out) {
        restore();
        throw fail("its screen-capture interface has no bulk endpoints");
    }
    int active = 0;
    handle->activeConfiguration(active);
    if (active != capture->value) {
        UsbStatus status = handle->setConfiguration(capture->value);
        if (status != UsbStatus::ok) {
            restore();
            throw fail(status == UsbStatus::busy ? holderReason(phone.udid) : "cannot select its screen-capture configuration (" + usbStatusText(status) + ")");
        }
    }
    UsbStatus claimed = handle->claimInterface(interface->number);
    if (claimed != UsbStatus::ok) {
        restore();
        throw fail(claimed == UsbStatus::busy ? holderReason(phone.udid) : "cannot claim its screen-capture interface (" + usbStatusText(claimed) + ")");
    }
    handle->clearHalt(target.in);
    handle->clearHalt(target.out);
    return std::make_unique<CableSession>(target, std::move(handle), queue, std::move(onFrame), clock_, timeouts_,
                                          onEnded(phone.udid, name));
}

UsbDeviceInfo UsbCaptureDevices::reveal(const std::string& udid, const std::string& name, uint8_t usbmuxValue,
                                        std::unique_ptr<UsbDeviceHandle> handle) {
    // The phone leaves the bus and comes back with one more configuration;
    // its status stage may fail as it goes, which is no failure.
    handle->controlOut(usbscreen::kVendorRequestOut, usbscreen::kRevealRequest, 0, usbscreen::kRevealIndex, timeouts_.transfer);
    handle.reset();
    MonotonicTime deadline = clock_.now() + timeouts_.reenumerate;
    bool stopping = false;
    while (true) {
        if (!stopping && stopped()) {
            // A stop does not leave the phone revealed: it waits a little
            // longer for it, to hide the configuration again.
            stopping = true;
            deadline = std::min(deadline, clock_.now() + kHideAtStopWait);
        }
        for (auto& candidate : apple()) {
            if (candidate.udid != udid || !findConfiguration(candidate.info, usbscreen::kCaptureSubclass)) continue;
            if (!stopping) return std::move(candidate.info);
            std::unique_ptr<UsbDeviceHandle> back;
            if (openNoting(candidate.info.address, back) == UsbStatus::ok) hideCaptureConfiguration(*back, usbmuxValue, timeouts_.transfer);
            throw stoppingError(name);
        }
        if (clock_.now() >= deadline) {
            if (!stopping) {
                throw CaptureStartError("cannot capture " + name +
                                        ": it did not come back with its screen-capture configuration; unplug it and plug it in again");
            }
            log(name + " over USB: stopped before it came back; it keeps its screen-capture configuration until it is "
                       "captured again or unplugged");
            throw stoppingError(name);
        }
        clock_.sleep(kRediscoverInterval);
    }
}

// A session that fails mid-stream leaves a phone that may still be on the
// bus, and no hot-plug event says so: the observers look again instead.
std::function<void(const std::string&, bool)> UsbCaptureDevices::onEnded(const std::string& udid, const std::string& name) {
    auto watch = alive_.watch();
    return [this, watch, name, udid, started = clock_.now()](const std::string& reason, bool unplugged) {
        if (!watch.alive()) return;
        remindOfUsbmuxd(name);
        if (unplugged) {
            // No fault of the phone's: plugged in again, it is captured at once.
            std::lock_guard lock(mutex_);
            retries_.erase(udid);
        } else {
            failed(udid, "its stream ended (" + reason + ")", clock_.now() - started >= kSteady);
        }
        notifyObservers();
    };
}

// A plain stop of usbmuxd would not last: udev starts it again as soon as
// the phone re-enumerates, which the reveal makes it do. A runtime mask
// keeps it away until it is unmasked or the computer restarts, so it never
// stays away for good. Stopping a system service is the user's call, and
// needs root: this program only says how, and how to give it back.
std::string UsbCaptureDevices::holderReason(const std::string& udid) {
    if (lockdown_.usbmuxdHas(udid)) {
        std::lock_guard lock(mutex_);
        usbmuxdSentAway_ = true;
        return "usbmuxd holds the iPhone's USB connection: keep it away while capturing with `sudo systemctl mask "
               "--runtime --now usbmuxd` (" + std::string(kGiveUsbmuxdBack) + " gives it back)";
    }
    return "another program holds the iPhone's USB connection: close it (a photo importer, another capture), then try again";
}

void UsbCaptureDevices::remindOfUsbmuxd(const std::string& name) {
    {
        std::lock_guard lock(mutex_);
        if (!usbmuxdSentAway_) return;
        usbmuxdSentAway_ = false;
    }
    if (!lockdown_.usbmuxdRunning()) log(name + " over USB: usbmuxd is still kept away; " + kGiveUsbmuxdBack + " gives it back");
}

void UsbCaptureDevices::forget(CableSession* session) {
    std::lock_guard lock(mutex_);
    sessions_.erase(session);
}

Duration UsbCaptureDevices::failed(const std::string& udid, const std::string& reason, bool steady) {
    std::lock_guard lock(mutex_);
    Retry& retry = retries_[udid];
    if (steady) retry.delay.succeeded();
    const Duration wait = retry.delay.failed(reason).delay;
    retry.reason = reason;
    retry.until = clock_.now() + wait;
    retry.waiting = true;
    const uint64_t generation = ++retry.generation;
    auto watch = alive_.watch();
    timers_.postAfter(wait, [this, watch, udid, generation] {
        if (!watch.alive()) return;
        {
            std::lock_guard lock(mutex_);
            auto found = retries_.find(udid);
            if (found == retries_.end() || found->second.generation != generation) return;
            found->second.waiting = false;
        }
        notifyObservers();
    });
    return wait;
}

void UsbCaptureDevices::refuseWhileWaiting(const std::string& udid, const std::string& name) {
    std::lock_guard lock(mutex_);
    auto found = retries_.find(udid);
    if (found == retries_.end() || !found->second.waiting) return;
    const Duration left = std::max(Duration::zero(), found->second.until - clock_.now());
    throw CaptureStartError("cannot capture " + name + ": " + found->second.reason + "; trying again in " + waitText(left));
}

CaptureStartError UsbCaptureDevices::stoppingError(const std::string& name) {
    return CaptureStartError("cannot capture " + name + ": Quintalis is stopping");
}

bool UsbCaptureDevices::stopped() {
    std::lock_guard lock(mutex_);
    return stopped_;
}

void UsbCaptureDevices::stopAll() {
    {
        // Under the lock, so no capture is destroyed meanwhile (its handle forgets it first).
        std::unique_lock lock(mutex_);
        stopped_ = true;
        for (const auto& [session, udid] : sessions_) session->stop();
        if (starting_) log("waiting for " + std::to_string(starting_) + " capture start(s) to give up");
        startEnded_.wait(lock, [this] { return starting_ == 0; });
    }
    // With the phones given back, nothing here needs the bus's news: the bus
    // stops first, as it posts to the hot-plug queue, whose pending waits
    // before a retry go with it. Outside the lock, which observers take.
    bus_.stop();
    // Discovery next, as it posts to the hot-plug queue; nothing asks it to
    // learn of a phone any more, and a lockdown query under way is waited for.
    discovery_.stop();
    hotplug_.stop();
}

}  // namespace quintalis
