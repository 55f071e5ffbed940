#pragma once

#include <mutex>
#include <vector>

#include "base/clock.h"
#include "bluetooth/report_sink.h"

namespace quintalis::testing {

// Records every report with the clock's time when it was sent.
class RecordingSink final : public ReportSink {
public:
    struct Sent {
        ReportID report;
        Bytes bytes;
        UUID host;
        Duration at;
    };

    explicit RecordingSink(Clock& clock) : clock_(clock) {}

    void send(ReportID report, const Bytes& bytes, const UUID& host) override {
        std::lock_guard lock(mutex_);
        sent_.push_back(Sent{report, bytes, host, clock_.now().time_since_epoch()});
    }
    std::vector<Sent> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }

private:
    Clock& clock_;
    mutable std::mutex mutex_;
    std::vector<Sent> sent_;
};

}  // namespace quintalis::testing
