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

void setLogFile(AppLog& file) { logFile = &file; }

void flushLog() {
    if (AppLog* file = logFile.load()) file->flush();
}

void setLogSink(LogSink replacement) {
    std::lock_guard lock(sinkMutex);
    sink = std::move(replacement);
}

void log(const std::string& message) {
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
