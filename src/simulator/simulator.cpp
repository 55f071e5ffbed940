#include "simulator/simulator.h"

#include <sstream>

namespace quintalis::simulator {

Simulator::Simulator(std::vector<PhoneSpec> specs) {
    for (size_t i = 0; i < specs.size(); ++i) phones_.push_back(std::make_unique<VirtualPhone>(static_cast<int>(i), specs[i]));
    std::vector<VirtualPhone*> phones;
    for (auto& phone : phones_) phones.push_back(phone.get());
    cameras_ = std::make_unique<SimulatedCameras>(phones, queue_);
    radio_ = std::make_unique<SimulatedRadio>(phones, queue_, *cameras_);
}

Simulator::~Simulator() {
    // Gone on their own queue, so no task of theirs is running meanwhile;
    // tasks still queued find them gone and do nothing.
    queue_.sync([this] {
        radio_.reset();
        cameras_.reset();
    });
}

std::optional<std::vector<PhoneSpec>> Simulator::parse(const std::string& text, std::string& error) {
    if (text.size() == 1 && text[0] >= '1' && text[0] <= '4') return std::vector<PhoneSpec>(text[0] - '0');
    std::vector<PhoneSpec> specs;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        std::stringstream words(item);
        std::string word;
        std::getline(words, word, ':');
        if (word != "phone") {
            error = "each phone is \"phone\" followed by :locked, :no-assistivetouch or :no-bluetooth, not \"" + item + "\"";
            return std::nullopt;
        }
        PhoneSpec spec;
        while (std::getline(words, word, ':')) {
            if (word == "locked") {
                spec.locked = true;
            } else if (word == "no-assistivetouch") {
                spec.assistiveTouch = false;
            } else if (word == "no-bluetooth") {
                spec.bluetooth = false;
            } else {
                error = "unknown phone condition \"" + word + "\"";
                return std::nullopt;
            }
        }
        specs.push_back(spec);
    }
    if (specs.empty() || specs.size() > 4) {
        error = "expected 1 to 4 phones";
        return std::nullopt;
    }
    return specs;
}

Json Simulator::groundTruth() {
    Json phones = Json::array();
    queue_.sync([&] {
        for (const auto& phone : phones_) phones.push_back(phone->groundTruth());
    });
    return Json{{"phones", phones}};
}

}  // namespace quintalis::simulator
