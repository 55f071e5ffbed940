#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/clock.h"
#include "base/liveness.h"
#include "base/serial_queue.h"
#include "platform/capture_devices.h"
#include "platform/usb/messages.h"
#include "simulator/h264_encoder.h"

namespace quintalis::simulator {

// What a test makes the phone's screen side do wrong.
struct PhoneScreenFaults {
    bool noPing = false;           // never pings (an unpaired phone's silence)
    bool silentAfterPing = false;  // pings back, then nothing
    bool neverReleases = false;    // no stop request or releases at the end
};

// The phone's half of the screen protocol on its capture interface: the
// ping, the clock and format requests, frames as H.264 paced by the host's
// NEEDs, the stop and release at the end. It knows nothing of USB: whoever
// carries it (the in-process cable, a real USB gadget) hands it what the
// host wrote and takes what the phone says from read(). It checks what the
// host sends as the phone would and notes every slip (violations()).
//
// Thread rule: every call may come from any thread; read() blocks until
// the phone has something to say, the time-out passes or the session ends.
// Encoding runs on the phone's own queue, "quintalis.usb-device.<serial>".
class PhoneScreenSide {
public:
    // Starts a feed of the phone's pictures on the given queue.
    using PictureFeed =
        std::function<std::unique_ptr<CaptureSession>(SerialQueue& queue, std::function<void(PixelBufferRef)> onPicture)>;
    using EventSink = std::function<void(const std::string&)>;

    // `faults` outlives this and is set before a host starts; `onEvent`
    // hears "ping", "hpa0" and "hpd0" as the host's messages arrive.
    PhoneScreenSide(const std::string& serial, PictureFeed pictures, const PhoneScreenFaults& faults, EventSink onEvent);
    ~PhoneScreenSide();
    PhoneScreenSide(const PhoneScreenSide&) = delete;
    PhoneScreenSide& operator=(const PhoneScreenSide&) = delete;

    // The host took the interface: a fresh session, whose ping waits for
    // the host's first read.
    void open();
    // The interface went away (unplugged, re-enumerated): what the phone
    // had still to say is dropped and a waiting read() returns.
    void close();

    // One message the host wrote; a message it cannot read is a violation.
    void receive(const uint8_t* data, size_t size);

    enum class ReadResult { data, timeout, closed };
    // What the phone says next, up to `capacity` bytes. `closed` when the
    // session was opened or closed meanwhile.
    ReadResult read(uint8_t* into, size_t capacity, size_t& got, Duration timeout);

    // For the ordered stop, once the host has let go: drops the feed of
    // pictures, the only other work that reaches the phone's queue, then
    // ends the queue's thread. A later session starts both again.
    void stop();

    // Raw bytes after what is queued, for a test to put on the pipe.
    void sendRaw(usbscreen::Bytes bytes);
    std::vector<std::string> violations();
    int framesSent();
    // When the newest frame was handed to the transport, after its encode:
    // where a frame's way to the host's screen begins.
    MonotonicTime lastFrameSentAt();

private:
    enum class State { off, idle, waitPing, audioClock, audioFormat, videoClock, clok, time, streaming, stopping, stopped };

    void resetSessionLocked();
    void emitLocked(usbscreen::Bytes bytes);
    void violationLocked(std::string what);
    void receiveLocked(const usbscreen::Message& message);
    void replyLocked(const usbscreen::Message& reply);
    void timeReplyLocked(const usbscreen::Message& reply);
    void noticeLocked(const usbscreen::Message& notice);
    void advanceLocked();
    uint64_t newCorrelationLocked();
    void requestLocked(uint64_t clock, uint32_t subtype, const usbscreen::Bytes& payload = {});
    void startPicturesLocked();
    void stopPicturesLocked();
    void pictureArrived(PixelBufferRef picture);  // on queue_
    void scheduleSend();                          // on queue_
    void sendFrame();                             // on queue_
    void emitFrameLocked(H264Encoder::AccessUnit unit, const usbscreen::FormatDescription& format);

    const std::string serial_;
    PictureFeed pictures_;
    const PhoneScreenFaults& faults_;
    EventSink onEvent_;
    SerialQueue queue_;
    Liveness alive_;

    std::mutex mutex_;
    std::condition_variable readable_;
    State state_ = State::off;
    int session_ = 0;  // counts open() and close(), so a waiting read() sees either
    std::deque<uint8_t> out_;
    std::vector<std::string> violations_;
    uint64_t nextCorrelation_ = 0x7f3a10000100;
    std::map<uint64_t, uint32_t> outstanding_;  // requests awaiting their reply, by correlation id
    int timeRepliesLeft_ = 0;
    bool sawAudioOn_ = false, sawVideoOn_ = false, sawAudioClockReply_ = false, sawAudioFormatReply_ = false;
    uint64_t deviceAudioClock_ = 0x7f3a2c001a40, deviceVideoClock_ = 0x7f3a2c002b80;
    uint64_t hostAudioClock_ = 0, hostVideoClock_ = 0, hostClockClock_ = 0;
    int64_t lastTime_ = INT64_MIN;
    int credit_ = 0;
    int framesSent_ = 0;
    MonotonicTime lastFrameSentAt_{};
    int framesSentThisStream_ = 0;
    bool videoClockSent_ = false;

    // Owned by queue_.
    std::unique_ptr<CaptureSession> feed_;
    H264Encoder encoder_;
    PixelBufferRef pending_;  // the newest picture not yet sent
    PixelBufferRef lastSent_;
    MonotonicTime lastSentAt_{};
    bool sendScheduled_ = false;
    std::optional<H264Encoder::AccessUnit> firstUnit_;  // encoded for the video clock request, sent as the first frame
    int formatWidth_ = 0, formatHeight_ = 0;            // the size the host last heard of
    int64_t pts_ = 0;
};

}  // namespace quintalis::simulator
