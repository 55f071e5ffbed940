#pragma once

#include <atomic>
#include <mutex>

#include "app/select_backends.h"
#include "base/main_run_loop.h"

namespace quintalis {

class AIConnect;
class AppInfo;
class AppLog;
class AppState;
class DesktopControl;
class Devices;
class Engine;
class HIDPeripheral;
class Installer;
class ReceiverKeeper;
class ScreenCapture;
class TryIt;
struct CaptureBackends;
struct USBCommandBackends;

// The composition root: every process-wide object, built on the selected
// backends and handed to the desktop app, the setup actions and the
// commands. Nothing below src/app reaches for one of these on its own.
//
// Each object is made on first use, so a command builds only what it needs
// (usb-list never opens Bluetooth). stop() winds down what was made, in
// the one order written there; the objects themselves are never destroyed,
// as work queued earlier may still reach them until the process ends.
// Thread rule: every accessor may be called from any thread; stop() from
// any thread but the ones it waits for (an HTTP handler, the Bluetooth
// queue), and never while the desktop app's loop still runs.
class Services {
public:
    Services() = default;
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    MainRunLoop& mainLoop() { return mainLoop_; }
    PlatformBackends& platform();
    TextRecognizer& text();
    DeviceBackends& devices();
    DesktopBackends& desktop();

    AppLog& appLog();
    AppInfo& appInfo();
    HIDPeripheral& peripheral();
    ScreenCapture& screenCapture();
    Devices& phones();
    CaptureBackends& capture();
    Engine& engine();
    AIConnect& aiConnect();
    TryIt& tryIt();
    Installer& installer();
    ReceiverKeeper& receiverKeeper();
    AppState& appState();
    DesktopControl& desktopControl();
    USBCommandBackends& usbCommands();

    // Ends whichever main loop the app runs (the desktop's or the headless one).
    void quit();

    // The ordered stop; see services.cpp for the order and why. Blocks
    // until every step has run; a second call returns at once. The app logs
    // each step; a command stops silently, as its standard error (where the
    // log goes too) carries only its own answer.
    enum class StopLog { steps, silent };
    void stop(StopLog say = StopLog::steps);

private:
    // One object, made by the first caller while any others wait.
    template <typename T>
    class Once {
    public:
        template <typename Make>
        T& get(Make make) {
            std::call_once(made_, [&] { value_ = &make(); });
            return *value_;
        }
        // The object when it was made, without making it.
        T* ifMade() const { return value_.load(); }

    private:
        std::once_flag made_;
        std::atomic<T*> value_ = nullptr;
    };

    std::mutex stopping_;
    bool stopped_ = false;  // guarded by stopping_
    MainRunLoop mainLoop_;
    Once<PlatformBackends> platform_;
    Once<TextRecognizer> text_;
    Once<DeviceBackends> devices_;
    Once<DesktopBackends> desktop_;
    Once<AppLog> appLog_;
    Once<AppInfo> appInfo_;
    Once<HIDPeripheral> peripheral_;
    Once<ScreenCapture> screenCapture_;
    Once<Devices> phones_;
    Once<CaptureBackends> capture_;
    Once<Engine> engine_;
    Once<AIConnect> aiConnect_;
    Once<TryIt> tryIt_;
    Once<Installer> installer_;
    Once<ReceiverKeeper> receiverKeeper_;
    Once<AppState> appState_;
    Once<DesktopControl> desktopControl_;
    Once<USBCommandBackends> usbCommands_;
};

}  // namespace quintalis
