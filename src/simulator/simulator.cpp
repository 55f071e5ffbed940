#include "simulator/simulator.h"

#include <sstream>

namespace quintalis::simulator {

Simulator::Simulator(std::vector<PhoneSetup> setups, WindowOpener openWindow) {
    for (size_t i = 0; i < setups.size(); ++i) phones_.push_back(std::make_unique<VirtualPhone>(static_cast<int>(i), setups[i]));
    std::vector<VirtualPhone*> phones;
    for (auto& phone : phones_) phones.push_back(phone.get());
    cameras_ = std::make_unique<SimulatedCameras>(phones, queue_);
    radio_ = std::make_unique<SimulatedRadio>(phones, queue_, *cameras_);
    usbBus_ = std::make_unique<SimulatedUsbBus>();
    for (auto* phone : phones) {
        if (phone->setup().airplay) {
            showOverAirPlay(*phone, openWindow);
            continue;
        }
        plugIn(*phone);
    }
}

void Simulator::plugIn(VirtualPhone& phone) {
    std::string serial = phone.screenID();
    std::erase(serial, '-');
    CaptureDeviceInfo camera{phone.screenID(), phone.name(), "iOS Device", true};
    auto device = std::make_unique<SimulatedUsbDevice>(serial, [this, camera](SerialQueue& queue, std::function<void(PixelBufferRef)> onPicture) {
        return cameras_->startCapture(camera, queue, [onPicture](CapturedFrame frame) { onPicture(frame.picture()); });
    });
    usbBus_->add(*device, PhoneFacts{phone.name(), phone.modelName()});
    usbDevices_.push_back(std::move(device));
}

void Simulator::showOverAirPlay(VirtualPhone& phone, const WindowOpener& openWindow) {
    const std::string title = "AirPlay: " + phone.name();
    ReceiverSurface* surface = nullptr;
    if (openWindow) {
        if (auto window = openWindow(title)) {
            surface = window.get();
            windows_.push_back(std::move(window));
        }
    }
    if (!surface) {
        if (!headless_) headless_ = std::make_unique<HeadlessReceivers>();
        surface = &headless_->addWindow(title);
    }
    surfaces_.push_back(surface);
    // The receiver sees what the cable would carry, at the same pace.
    receiving_.push_back(cameras_->startCapture({phone.screenID(), phone.name(), "iOS Device", true}, queue_,
                                                [surface](CapturedFrame frame) { surface->show(frame.picture()); }));
}

Simulator::~Simulator() {
    // Gone on their own queue, so no task of theirs is running meanwhile;
    // tasks still queued find them gone and do nothing.
    usbDevices_.clear();
    queue_.sync([this] {
        receiving_.clear();
        radio_.reset();
        cameras_.reset();
    });
    windows_.clear();
    headless_.reset();
}

// Feeders first. Each screen side's feed of pictures is what the phones'
// queue posts to it, and it posts to that queue to start one, so it lets go
// of the feed before either stops; the phones' queue then shows the
// receivers their last pictures.
void Simulator::stop() {
    for (auto& device : usbDevices_) device->stopScreen();
    queue_.stop();
    for (auto* surface : surfaces_) surface->stop();
}

std::optional<std::vector<PhoneSetup>> Simulator::parse(const std::string& text, std::string& error) {
    if (text.size() == 1 && text[0] >= '1' && text[0] <= '4') return std::vector<PhoneSetup>(text[0] - '0');
    std::vector<PhoneSetup> setups;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        std::stringstream words(item);
        std::string word;
        std::getline(words, word, ':');
        if (word != "phone") {
            error = "each phone is \"phone\" followed by :locked, :no-assistivetouch, :no-bluetooth or :airplay, not \"" + item + "\"";
            return std::nullopt;
        }
        PhoneSetup setup;
        while (std::getline(words, word, ':')) {
            if (word == "locked") {
                setup.locked = true;
            } else if (word == "no-assistivetouch") {
                setup.assistiveTouch = false;
            } else if (word == "no-bluetooth") {
                setup.bluetooth = false;
            } else if (word == "airplay") {
                setup.airplay = true;
            } else {
                error = "unknown phone condition \"" + word + "\"";
                return std::nullopt;
            }
        }
        setups.push_back(setup);
    }
    if (setups.empty() || setups.size() > 4) {
        error = "expected 1 to 4 phones";
        return std::nullopt;
    }
    return setups;
}

JSON Simulator::groundTruth() {
    JSON phones = JSON::array();
    queue_.sync([&] {
        for (const auto& phone : phones_) phones.push_back(phone->groundTruth());
    });
    return JSON{{"phones", phones}};
}

}  // namespace quintalis::simulator
