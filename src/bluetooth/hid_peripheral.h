#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "base/clock.h"
#include "base/serial_queue.h"
#include "bluetooth/gatt_table.h"
#include "bluetooth/report_sink.h"
#include "platform/bundle_info.h"
#include "platform/peripheral_manager.h"

namespace quintalis {

// The computer as a Bluetooth LE keyboard, pointer, mouse and consumer
// keypad (HID over GATT). It publishes the GATT table, advertises, tracks
// which hosts subscribed to input reports, delivers reports to one host at
// a time with flow control, and recovers hosts whose cached GATT table went
// stale by indicating Service Changed.
//
// Threads: every manager callback and all state live on the
// "quintalis.bluetooth" queue. send() may be called from any thread and
// returns at once; connectedHosts() waits for the queue, so it must not be
// called from it; state() and localName() may be read from any thread.
class HIDPeripheral final : public PeripheralManagerDelegate, public ReportSink {
public:
    HIDPeripheral(BluetoothPeripheralRole& role, std::string localName, Clock& clock = Clock::real());
    ~HIDPeripheral() override;

    void start();
    // Takes the keyboard and pointer off the radio for good: the connected
    // phones lose them, and a later start() does nothing. Blocks until the
    // radio has let go, then ends the queue's thread (a later call starts it
    // again); not from the Bluetooth queue.
    void stop();
    std::vector<UUID> connectedHosts();
    void send(ReportID report, const Bytes& bytes, const UUID& host) override;
    std::string state() const;
    const std::string& localName() const { return localName_; }
    // Called on the Bluetooth queue after any subscription change.
    void setOnHostsChanged(std::function<void()> callback);
    // Lets a new phone pair for that long from now; zero closes the window.
    // Nothing pairs outside it; a phone that paired before reconnects freely.
    void openPairingWindow(Duration duration);
    // Whole seconds left in the pairing window, 0 when it is closed.
    int pairingSecondsLeft() const;
    // The name a paired phone lists this computer under, when the radio
    // says; empty when unknown. Any thread.
    std::string deviceName() const;

    // Runs a task on the Bluetooth queue and waits for it (tests, diagnostics).
    void sync(const std::function<void()>& task) { queue_.sync(task); }

    void didUpdateState() override;
    void didAddService(const ServiceRef& service, const Outcome& added) override;
    void didStartAdvertising(const std::optional<AdvertisingError>& error) override;
    void didReceiveRead(const ReadRequest& request) override;
    void didReceiveWrite(const std::vector<WriteRequest>& requests) override;
    void didSubscribe(const UUID& central, const CharacteristicRef& characteristic) override;
    void didUnsubscribe(const UUID& central, const CharacteristicRef& characteristic) override;
    void isReadyToUpdateSubscribers() override;
    void didUpdateDeliveryNote(const std::string& note) override;
    void didRestoreDelivery(const UUID& central) override;
    void didUpdateDeviceName(const std::string& name) override;

private:
    struct Pending {
        CharacteristicRef characteristic;
        Bytes bytes;
        std::vector<UUID> centrals;
    };

    void setState(std::string state);
    void dropHosts();
    void addNextService();
    void advertise();
    void drain();
    void hostsChanged();
    void showConnected();
    std::string describe(const CharacteristicRef& characteristic) const;
    std::optional<ReportID> inputReport(const CharacteristicRef& characteristic) const;
    void recoverStaleCacheIfNeeded(const UUID& central);
    void sendNeutral(const UUID& central, const CharacteristicRef& characteristic);
    std::vector<UUID> hostsWithInput() const;

    BluetoothPeripheralRole& role_;
    const std::string localName_;
    Clock& clock_;

    mutable std::mutex stateMutex_;
    std::string state_ = "starting";
    std::string deviceName_;        // guarded by stateMutex_
    MonotonicTime pairingUntil_{};  // guarded by stateMutex_
    uint64_t pairingWindows_ = 0;   // guarded by stateMutex_; a timer of an earlier window does nothing

    // Owned by queue_.
    std::unique_ptr<PeripheralManager> manager_;
    bool stopped_ = false;  // owned by queue_, like manager_
    std::deque<ServiceRef> servicesToAdd_;
    bool published_ = false;
    HIDGATTTable table_;
    std::set<UUID> centrals_;
    std::map<UUID, std::set<CharacteristicRef>> subscriptions_;
    std::set<UUID> serviceChangedSent_;
    std::deque<Pending> outbox_;
    std::string deliveryNote_;
    std::function<void()> onHostsChanged_;

    SerialQueue queue_{"quintalis.bluetooth"};  // last: drained before the state above goes
};

// The advertised name: the bundle's "SkifflineBluetoothName", else "Skiffline".
std::string bluetoothName(const BundleInfo& bundle);

}  // namespace quintalis
