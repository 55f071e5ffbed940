// The virtual iPhone plugged into this machine's USB device controller (in
// the test guest, dummy_hcd), so the host side meets it through the kernel
// and libusb as it would meet a phone: four configurations, the fifth with
// the capture interface after the reveal request, and on it the same
// screen side the in-process cable uses, showing the virtual phone's screen.
//
//   quintalis-phone-gadget [--serial S]
//
// Standard input takes one command a line: "tap FX FY" (fractions of the
// screen), "home", "wiggle SECONDS", "unplug", "plug", "quit". Standard output gets one line
// per event ("GADGET ready", "GADGET reveal", "GADGET hide", "GADGET capture
// on", "GADGET ping", "GADGET hpd0", ...) for a test to wait on.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "bluetooth/report_map.h"
#include "capture_pump.h"
#include "ffs_function.h"
#include "gadget_tree.h"
#include "platform/usb/usb_ids.h"
#include "simulator/simulated_cameras.h"
#include "simulator/virtual_phone.h"

using namespace quintalis;
using namespace quintalis::gadget;

namespace {

constexpr int kUsbmuxConfigurations = 4;
constexpr int kCaptureConfiguration = 5;
constexpr uint16_t kProduct = 0x12A8;
constexpr char kMounts[] = "/run/quintalis-phone";

std::mutex outputMutex;
void announce(const std::string& line) {
    std::lock_guard lock(outputMutex);
    std::cout << "GADGET " << line << std::endl;
}

int stopPipe[2];
void onTerminate(int) { (void)!::write(stopPipe[1], "x", 1); }
void onInterrupt(int) {}

void installSignals() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;  // no SA_RESTART: it must cut endpoint I/O short
    sigaction(SIGUSR1, &action, nullptr);
    action.sa_handler = onTerminate;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

class PhoneGadget {
public:
    explicit PhoneGadget(std::string serial)
        : serial_(std::move(serial)),
          phone_(0, simulator::PhoneSetup{}),
          cameras_({&phone_}, phoneQueue_),
          screen_(serial_, [this](SerialQueue& queue, std::function<void(PixelBufferRef)> onPicture) {
              return cameras_.startCapture({phone_.screenID(), phone_.name(), "iOS Device", true}, queue,
                                             [onPicture](CapturedFrame frame) { onPicture(frame.picture()); });
          }, faults_, [](const std::string& event) { announce(event); }),
          tree_("/sys/kernel/config/usb_gadget/quintalis-phone"),
          usbmux_(kMounts, "usbmux", usbscreen::kUsbmuxSubclass, 0x02, "usbmux"),
          capture_(kMounts, "capture", usbscreen::kCaptureSubclass, 0xFF, "screen capture"),
          pump_(screen_, capture_.inEndpoint(), capture_.outEndpoint()) {}

    ~PhoneGadget() {
        pump_.stop();
        tree_.clear();
        phoneQueue_.sync([] {});
    }

    bool plugIn(std::string controller) {
        controller_ = std::move(controller);
        ::mkdir(kMounts, 0755);
        if (!tree_.create({usbscreen::kAppleVendor, kProduct, serial_, "Apple Inc.", "iPhone"}) ||
            !tree_.addFunction(usbmux_.instance()) || !tree_.addFunction(capture_.instance()) ||
            !usbmux_.open() || !capture_.open()) {
            return false;
        }
        // A configuration needs a function; the phone's still-image
        // interface has no stand-in here, so usbmux is in all four.
        for (int value = 1; value <= kUsbmuxConfigurations; ++value) {
            if (!tree_.addConfiguration(value, "usbmux " + std::to_string(value), {usbmux_.instance()})) return false;
        }
        return tree_.bind(controller_);
    }

    int run() {
        std::string input;
        for (;;) {
            pollfd polled[4] = {{stopPipe[0], POLLIN, 0}, {usbmux_.control(), POLLIN, 0}, {capture_.control(), POLLIN, 0},
                                {STDIN_FILENO, POLLIN, 0}};
            if (::poll(polled, 4, -1) < 0) {
                if (errno == EINTR) continue;
                return 1;
            }
            if (polled[0].revents) return 0;
            if (polled[1].revents & POLLIN) handleControl(usbmux_);
            if (polled[2].revents & POLLIN) handleControl(capture_);
            if (pendingReveal_ >= 0) {
                bool reveal = pendingReveal_ == 1;
                pendingReveal_ = -1;
                reenumerate(reveal);
            }
            if (polled[3].revents) {
                char chunk[256];
                ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
                if (n <= 0) return 0;
                input.append(chunk, static_cast<size_t>(n));
                for (size_t end; (end = input.find('\n')) != std::string::npos; input.erase(0, end + 1)) {
                    if (!command(input.substr(0, end))) return 0;
                }
            }
        }
    }

private:
    // The phone answers each request before it reads further events: the
    // host waits for the status stage.
    void handleControl(FfsFunction& function) {
        for (const auto& event : function.events()) {
            switch (event.kind) {
                case FfsFunction::Event::setup: handleSetup(function, event.request); break;
                case FfsFunction::Event::enable:
                    // Reads can merge events, so an enable may come twice: each one restarts.
                    if (&function == &capture_) {
                        announce("capture on");
                        pump_.start();
                    }
                    break;
                case FfsFunction::Event::disable:
                case FfsFunction::Event::unbind:
                    if (&function == &capture_ && pump_.running()) {
                        pump_.stop();
                        announce("capture off");
                    }
                    break;
                default: break;
            }
        }
    }

    void handleSetup(FfsFunction& function, const usb_ctrlrequest& request) {
        const uint16_t value = le16toh(request.wValue), index = le16toh(request.wIndex), length = le16toh(request.wLength);
        if (request.bRequestType != usbscreen::kVendorRequestOut || request.bRequest != usbscreen::kRevealRequest || value != 0 ||
            length != 0 || (index != usbscreen::kRevealIndex && index != usbscreen::kHideIndex)) {
            function.stall(request);
            return;
        }
        if (!function.acknowledge()) std::cerr << "gadget: the status stage failed: " << std::strerror(errno) << "\n";
        const bool reveal = index == usbscreen::kRevealIndex;
        announce(reveal ? "reveal" : "hide");
        if (reveal != revealed_) pendingReveal_ = reveal ? 1 : 0;
    }

    // Off the bus and back with the new set of configurations, as the phone does.
    void reenumerate(bool reveal) {
        pump_.stop();
        tree_.unbind();
        if (reveal) {
            tree_.addConfiguration(kCaptureConfiguration, "screen capture", {usbmux_.instance(), capture_.instance()});
        } else {
            tree_.removeConfiguration(kCaptureConfiguration);
        }
        revealed_ = reveal;
        if (tree_.bind(controller_)) announce(reveal ? "revealed" : "hidden");
    }

    bool command(const std::string& line) {
        std::istringstream words(line);
        std::string verb;
        words >> verb;
        if (verb == "tap") {
            double x = -1, y = -1;
            words >> x >> y;
            if (x < 0 || x > 1 || y < 0 || y > 1) {
                announce("error tap takes two fractions of the screen");
                return true;
            }
            press({absolutePointerReport(1, pointerCoordinate(x), pointerCoordinate(y)),
                   absolutePointerReport(0, pointerCoordinate(x), pointerCoordinate(y))},
                  ReportID::absolutePointer);
        } else if (verb == "home") {
            press({consumerReport(kHomeUsage), consumerReport(0)}, ReportID::consumer);
        } else if (verb == "wiggle") {
            double seconds = 0;
            words >> seconds;
            wiggle(std::min(seconds, 30.0));
        } else if (verb == "unplug") {
            pump_.stop();
            tree_.unbind();
            announce("unplugged");
        } else if (verb == "plug") {
            tree_.removeConfiguration(kCaptureConfiguration);
            revealed_ = false;
            if (tree_.bind(controller_)) announce("plugged");
        } else if (verb == "quit") {
            return false;
        } else if (!verb.empty()) {
            announce("error unknown command " + verb);
            return true;
        }
        if (!verb.empty()) announce("done " + verb);
        return true;
    }

    // Moves the pointer to and fro, so the screen changes all the time, and
    // says how many frames the host took meanwhile: the whole path's pace,
    // since the host asks for each next frame once it has the last. Control
    // requests wait meanwhile.
    void wiggle(double seconds) {
        const int before = screen_.framesSent();
        const auto start = std::chrono::steady_clock::now();
        const auto end = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
        for (int step = 0; std::chrono::steady_clock::now() < end; ++step) {
            press({relativeMouseReport(0, step % 2 ? 4 : -4, 0)}, ReportID::relativeMouse);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::ostringstream line;
        line << "frames " << screen_.framesSent() - before << " in " << took << " s";
        announce(line.str());
    }

    void press(std::vector<Bytes> reports, ReportID report) {
        phoneQueue_.sync([&] {
            for (const auto& bytes : reports) phone_.receive(report, bytes);
            cameras_.pictureChanged(phone_);
        });
    }

    const std::string serial_;
    SerialQueue phoneQueue_{"quintalis.simulator"};
    simulator::VirtualPhone phone_;  // owned by phoneQueue_
    simulator::SimulatedCameras cameras_;
    simulator::PhoneScreenFaults faults_;
    simulator::PhoneScreenSide screen_;
    GadgetTree tree_;
    FfsFunction usbmux_, capture_;
    CapturePump pump_;
    std::string controller_;
    bool revealed_ = false;
    int pendingReveal_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    std::string serial = "00008120000A1B2C3D4E5F01";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--serial") == 0 && i + 1 < argc) {
            serial = argv[++i];
        } else {
            std::cerr << "usage: quintalis-phone-gadget [--serial S]\n";
            return 2;
        }
    }
    std::string controller = firstController();
    if (controller.empty()) {
        std::cerr << "gadget: no USB device controller in /sys/class/udc (load dummy_hcd)\n";
        return 1;
    }
    if (::pipe2(stopPipe, O_CLOEXEC) != 0) return 1;
    installSignals();
    PhoneGadget gadget(serial);
    if (!gadget.plugIn(controller)) return 1;
    announce("ready " + controller + " serial " + serial);
    int status = gadget.run();
    announce("stopping");
    return status;
}
