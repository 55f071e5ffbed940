#include "base/log.h"

#include <unistd.h>

#include <atomic>
#include <mutex>

#include "base/app_log.h"

namespace quintalis {
namespace {

std::mutex sinkMutex;
LogSink sink;
std::atomic<AppLog*> logFile{nullptr};

}  // namespace

std::string formatLogLine(const std::string& message, std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    return "[" + std::string(stamp) + "] " + message + "\n";
}

std::string loggable(std::string_view value, size_t limit) {
    bool cut = value.size() > limit;
    if (cut) {
        value = value.substr(0, limit);
        // A character the cut fell inside goes whole.
        size_t lead = value.size();
        while (lead > 0 && (static_cast<unsigned char>(value[lead - 1]) & 0xC0) == 0x80) --lead;
        if (lead > 0) {
            auto first = static_cast<unsigned char>(value[lead - 1]);
            size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
            if (value.size() - (lead - 1) < length) value = value.substr(0, lead - 1);
        }
    }
    std::string shown(value);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    if (cut) shown += "\u2026";
    return shown;
}

void setLogFile(AppLog& file) { logFile = &file; }

void flushLog() {
    if (AppLog* file = logFile.load()) file->flush();
}

void setLogSink(LogSink replacement) {
    std::lock_guard lock(sinkMutex);
    sink = std::move(replacement);
}

void log(const std::string& whole) {
    std::string cut;
    if (whole.size() > kLoggedLineLimit) cut = loggable(whole, kLoggedLineLimit);
    const std::string& message = cut.empty() ? whole : cut;
    {
        std::lock_guard lock(sinkMutex);
        if (sink) {
            sink(message);
            return;
        }
    }
    std::string line = formatLogLine(message, std::time(nullptr));
    // One write call, so lines from different threads do not interleave.
    ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
    if (AppLog* file = logFile.load()) file->write(std::move(line));
}

}  // namespace quintalis
