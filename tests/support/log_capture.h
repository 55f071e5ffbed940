#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/log.h"

namespace quintalis::testing {

// Collects log messages for the lifetime of the object.
class LogCapture {
public:
    LogCapture() {
        setLogSink([this](const std::string& message) {
            std::lock_guard lock(mutex_);
            lines_.push_back(message);
        });
    }
    ~LogCapture() { setLogSink(nullptr); }

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    bool contains(const std::string& line) const {
        std::lock_guard lock(mutex_);
        for (const auto& seen : lines_) {
            if (seen == line) return true;
        }
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace quintalis::testing
