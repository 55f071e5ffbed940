#include "platform/linux/usb/cable_session.h"

#include "base/log.h"
#include "base/thread_name.h"
#include "platform/usb/usb_ids.h"

namespace quintalis {

using usbscreen::Bytes;
using usbscreen::MessageFramer;
using usbscreen::WireError;

// One read takes up to this much; a multiple of every bulk packet size.
constexpr size_t kCableReadSize = 256 * 1024;
constexpr char kUnplugged[] = "the iPhone was unplugged";

std::string sizeText(uint32_t width, uint32_t height) { return std::to_string(width) + "\u00d7" + std::to_string(height); }

CableSession::CableSession(Target target, std::unique_ptr<UsbDeviceHandle> handle, SerialQueue& frameQueue,
                           std::function<void(CapturedFrame)> onFrame, Clock& clock, CableTimeouts timeouts,
                           std::function<void(const std::string&, bool)> onEnded)
    : target_(std::move(target)),
      handle_(std::move(handle)),
      frameQueue_(frameQueue),
      onFrame_(std::move(onFrame)),
      clock_(clock),
      timeouts_(timeouts),
      onEnded_(std::move(onEnded)),
      protocol_(clock),
      decodeQueue_("quintalis.usb-decode." + target_.udid) {
    reader_ = std::thread([this] { run(); });
}

CableSession::~CableSession() { stop(); }

void CableSession::stop() {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
    if (reader_.joinable() && reader_.get_id() != std::this_thread::get_id()) reader_.join();
    // Nothing decoded after this reaches the caller; the reader that fed the
    // decoder has ended, so its thread may end too.
    decodeQueue_.stop();
    alive_.end();
}

void CableSession::run() {
    nameCurrentThread("quintalis.usb-cable." + target_.udid);
    std::string reason = converse();
    restore();
    log(target_.name + " over USB: stream ended (" + reason + ")");
    const bool stopped = stopping_;
    ended_ = true;
    if (onEnded_ && !stopped) onEnded_(reason, reason == kUnplugged);
}

bool CableSession::send(const Bytes& message, std::string& failure) {
    UsbStatus status = handle_->bulkWrite(target_.out, message.data(), message.size(), timeouts_.transfer);
    if (status == UsbStatus::ok) return true;
    failure = status == UsbStatus::noDevice ? kUnplugged
              : status == UsbStatus::timeout ? "the iPhone stopped answering (a write timed out)"
                                             : "writing to the iPhone failed: " + usbStatusText(status);
    return false;
}

std::string CableSession::converse() {
    MessageFramer framer;
    std::vector<uint8_t> buffer(kCableReadSize);
    const MonotonicTime started = clock_.now();
    MonotonicTime pingedAt{};
    std::string failure;
    while (true) {
        if (stopping_) return stopConversation();
        {
            std::lock_guard lock(decodeFailureMutex_);
            if (!decodeFailure_.empty()) return decodeFailure_;
        }
        size_t got = 0;
        UsbStatus status = handle_->bulkRead(target_.in, buffer.data(), buffer.size(), got, timeouts_.readSlice);
        if (status == UsbStatus::noDevice) return kUnplugged;
        if (status != UsbStatus::ok && status != UsbStatus::timeout && status != UsbStatus::interrupted) {
            return "reading from the iPhone failed: " + usbStatusText(status);
        }
        // Zero-length packets carry nothing and are simply passed over.
        if (got > 0) framer.feed(buffer.data(), got);
        Bytes bytes;
        while (true) {
            auto result = framer.next(bytes);
            if (result == MessageFramer::Result::needMore) break;
            if (result == MessageFramer::Result::invalid) return "the iPhone sent a message with an impossible length";
            HostProtocol::Step step;
            try {
                bool wasPinged = protocol_.pinged();
                step = protocol_.receive(usbscreen::parseMessage(bytes));
                if (!wasPinged && protocol_.pinged()) pingedAt = clock_.now();
            } catch (const WireError& error) {
                return std::string("protocol error: ") + error.what();
            }
            for (const auto& reply : step.send) {
                if (!send(reply, failure)) return failure;
            }
            handleStep(std::move(step));
        }
        // A phone that never pings does not trust this computer; one that
        // pings and then says nothing is stuck.
        if (!protocol_.pinged() && clock_.now() - started > timeouts_.ping) {
            return "no answer from the iPhone: unlock it and tap Trust, then plug it in again";
        }
        if (protocol_.pinged() && !protocol_.audioClockSeen() && clock_.now() - pingedAt > timeouts_.ping) {
            return "the iPhone answered the ping and then nothing more: unplug it and plug it in again";
        }
    }
}

std::string CableSession::stopConversation() {
    std::string failure;
    for (const auto& message : protocol_.stop()) {
        if (!send(message, failure)) return "stopped; " + failure;
    }
    // The phone answers with its stop request and releases both clocks.
    MessageFramer framer;
    std::vector<uint8_t> buffer(kCableReadSize);
    const MonotonicTime deadline = clock_.now() + timeouts_.release;
    while (protocol_.releases() < 2 && clock_.now() < deadline) {
        size_t got = 0;
        UsbStatus status = handle_->bulkRead(target_.in, buffer.data(), buffer.size(), got, timeouts_.readSlice);
        if (status == UsbStatus::noDevice) return "stopped; the iPhone was unplugged";
        if (status != UsbStatus::ok && status != UsbStatus::timeout) break;
        if (got > 0) framer.feed(buffer.data(), got);
        Bytes bytes;
        while (framer.next(bytes) == MessageFramer::Result::complete) {
            try {
                auto step = protocol_.receive(usbscreen::parseMessage(bytes));
                for (const auto& reply : step.send) send(reply, failure);
            } catch (const WireError&) {
                return "stopped";
            }
        }
    }
    if (protocol_.releases() < 2) return "stopped; the iPhone did not release its clocks";
    send(protocol_.lastStop(), failure);
    return "stopped";
}

void CableSession::handleStep(HostProtocol::Step step) {
    if (!step.skipped.empty()) log(target_.name + " over USB: skipped " + step.skipped);
    if (step.format) {
        std::string text = "H.264 " + sizeText(step.format->width, step.format->height);
        if (text != formatText_) {
            formatText_ = text;
            log(target_.name + " over USB: " + text);
        }
        auto watch = alive_.watch();
        decodeQueue_.async([this, watch, format = std::move(*step.format)] {
            if (!watch.alive()) return;
            try {
                decoder_.configure(format);
                decoderBroken_ = false;
            } catch (const DecodeError& error) {
                // Said once, as the reason the stream ended.
                decoderBroken_ = true;
                std::lock_guard lock(decodeFailureMutex_);
                decodeFailure_ = std::string("cannot decode the stream: ") + error.what();
            }
        });
    }
    if (step.frame) {
        ++framesQueued_;
        auto watch = alive_.watch();
        decodeQueue_.async([this, watch, frame = std::move(*step.frame)]() mutable {
            if (watch.alive()) decodeQueued(std::move(frame));
        });
    }
}

void CableSession::decodeQueued(Bytes frame) {
    // Every frame is decoded, as later ones refer to it, but only the newest
    // queued one is converted and delivered.
    bool newest = --framesQueued_ == 0;
    if (decoderBroken_ || !decoder_.configured()) return;
    try {
        CapturedFrame picture = decoder_.decode(frame, newest);
        if (!picture) return;
        auto watch = alive_.watch();
        frameQueue_.async([watch, onFrame = onFrame_, picture = std::move(picture)] {
            if (watch.alive()) onFrame(picture);
        });
    } catch (const DecodeError& error) {
        // Say it once per stream, not once per frame.
        if (skippedFrames_++ == 0) log(target_.name + " over USB: skipped a frame it could not decode (" + error.what() + ")");
    }
}

void hideCaptureConfiguration(UsbDeviceHandle& handle, uint8_t usbmuxConfiguration, Duration timeout) {
    handle.controlOut(usbscreen::kVendorRequestOut, usbscreen::kRevealRequest, 0, usbscreen::kHideIndex, timeout);
    if (usbmuxConfiguration != 0) handle.setConfiguration(usbmuxConfiguration);
}

void CableSession::restore() {
    handle_->releaseInterface(target_.interfaceNumber);
    hideCaptureConfiguration(*handle_, target_.usbmuxConfiguration, timeouts_.transfer);
}

}  // namespace quintalis
