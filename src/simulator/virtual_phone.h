#pragma once

#include <optional>
#include <string>

#include "base/json.h"
#include "base/uuid.h"
#include "bluetooth/report_map.h"
#include "imaging/pixel_buffer.h"
#include "simulator/phone_scene.h"

namespace quintalis::simulator {

// How a simulated phone is set up.
struct PhoneSetup {
    bool locked = false;          // the screen delivers no frames
    bool assistiveTouch = true;   // off: no pointer, clicks do nothing
    bool bluetooth = true;        // off: never connects
    bool airplay = false;         // shown in an AirPlay receiver window instead of on the USB cable
};

// A model of an iPhone that follows the HID reports it receives, as iOS with
// AssistiveTouch does: absolute reports place the pointer, relative reports
// move it in points, a primary-button press and release is a touch, keyboard
// reports type into the focused field, and consumer Home goes home.
// Not thread-safe: the simulator's queue owns every phone.
class VirtualPhone {
public:
    // `index` from 0 picks the name, ids and screen size.
    VirtualPhone(int index, PhoneSetup setup);

    const std::string& name() const { return name_; }
    const std::string& screenID() const { return screenID_; }
    const std::string& modelName() const { return modelName_; }
    const UUID& central() const { return central_; }
    const PhoneSetup& setup() const { return setup_; }
    int pixelWidth() const { return pixelWidth_; }
    int pixelHeight() const { return pixelHeight_; }

    // Applies one input report; true when the picture changed.
    bool receive(ReportID report, const Bytes& bytes);

    // The current picture, rendered only when something changed.
    PixelBufferRef frame();
    // What is really on the phone, for tests and the curious.
    JSON groundTruth() const;

private:
    void setButton(bool down);
    void pointerMoved(double previousY);
    void tap(double x, double y);
    void goHome();
    void typeUsage(uint8_t modifiers, uint8_t code);
    Scene scene() const;
    double pointsX() const { return pointerX_ / scale_; }
    double pointsY() const { return pointerY_ / scale_; }

    std::string name_;
    std::string screenID_;
    std::string modelName_;
    UUID central_;
    PhoneSetup setup_;
    int pixelWidth_;
    int pixelHeight_;
    double scale_;

    PhoneUI ui_;
    double pointerX_;
    double pointerY_;
    bool pointerShown_ = false;  // appears with the first pointer report
    bool buttonDown_ = false;
    double touchStartX_ = 0;
    double touchStartY_ = 0;
    bool dragging_ = false;
    uint8_t lastKey_ = 0;

    PixelBufferRef screen_;  // without the pointer, shared as the frame when none shows; reset when the page changes
    PixelBufferRef frame_;   // with it; reset when anything changes
};

}  // namespace quintalis::simulator
