#include "simulator/simulator.h"

#include <sstream>

#include "simulator/x_receiver_window.h"

namespace quintalis::simulator {

Simulator::Simulator(std::vector<PhoneSetup> setups, std::optional<std::string> xDisplay) {
    for (size_t i = 0; i < setups.size(); ++i) phones_.push_back(std::make_unique<VirtualPhone>(static_cast<int>(i), setups[i]));
    std::vector<VirtualPhone*> phones;
    for (auto& phone : phones_) phones.push_back(phone.get());
    cameras_ = std::make_unique<SimulatedCameras>(phones, queue_);
    radio_ = std::make_unique<SimulatedRadio>(phones, queue_, *cameras_);
    for (auto* phone : phones) {
        if (phone->setup().airplay) showOverAirPlay(*phone, xDisplay);
    }
}

void Simulator::showOverAirPlay(VirtualPhone& phone, const std::optional<std::string>& xDisplay) {
    const std::string title = "AirPlay: " + phone.name();
    ReceiverSurface* surface = nullptr;
    if (xDisplay) {
        if (auto window = XReceiverWindow::open(*xDisplay, title)) {
            surface = window.get();
            windows_.push_back(std::move(window));
        }
    }
    if (!surface) {
        if (!headless_) headless_ = std::make_unique<HeadlessReceivers>();
        surface = &headless_->addWindow(title);
    }
    // The receiver sees what the cable would carry, at the same pace.
    receiving_.push_back(cameras_->startCapture({phone.screenID(), phone.name(), "iOS Device", true}, queue_,
                                                [surface](PixelBufferRef picture) { surface->show(std::move(picture)); }));
}

Simulator::~Simulator() {
    // Gone on their own queue, so no task of theirs is running meanwhile;
    // tasks still queued find them gone and do nothing.
    queue_.sync([this] {
        receiving_.clear();
        radio_.reset();
        cameras_.reset();
    });
    windows_.clear();
    headless_.reset();
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
