#include "engine/app_log.h"

#include <unistd.h>

#include <ctime>
#include <mutex>

#include "platform/select_backends.h"

namespace quintalis {

AppLog::AppLog(std::filesystem::path file) : file_(std::move(file)) {}

AppLog::~AppLog() {
    flush();
    if (handle_) std::fclose(handle_);
}

// Process-wide services live until exit and are never torn down: at exit
// that would only run their pending work (a queued matching pass) for nothing.
AppLog& AppLog::shared() {
    static AppLog& log = *new AppLog(PlatformBackends::selected().host.logsDirectory() / "Quintalis.log");
    return log;
}

void AppLog::open() {
    opened_ = true;
    std::error_code ignored;
    std::filesystem::create_directories(file_.parent_path(), ignored);
    auto size = std::filesystem::file_size(file_, ignored);
    if (!ignored && size > kRotateBytes) std::filesystem::remove(file_, ignored);
    handle_ = std::fopen(file_.c_str(), "ab");
}

void AppLog::write(std::string line) {
    queue_.async([this, line = std::move(line)] {
        if (!opened_) open();
        if (!handle_) return;
        std::fwrite(line.data(), 1, line.size(), handle_);
        std::fflush(handle_);
    });
}

void AppLog::flush() {
    queue_.sync([] {});
}

std::string formatLogLine(const std::string& message, std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    return "[" + std::string(stamp) + "] " + message + "\n";
}

namespace {

std::mutex sinkMutex;
LogSink sink;

}  // namespace

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
    AppLog::shared().write(std::move(line));
}

}  // namespace quintalis
