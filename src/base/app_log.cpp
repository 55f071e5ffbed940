#include "base/app_log.h"

namespace quintalis {

AppLog::AppLog(std::filesystem::path file) : file_(std::move(file)) {}

AppLog::~AppLog() {
    flush();
    if (handle_) std::fclose(handle_);
}

void AppLog::open() {
    opened_ = true;
    std::error_code ignored;
    std::filesystem::create_directories(file_.parent_path(), ignored);
    auto size = std::filesystem::file_size(file_, ignored);
    if (!ignored && size > kRotateBytes) std::filesystem::remove(file_, ignored);
    handle_ = std::fopen(file_.c_str(), "ab");
}

void AppLog::startAfresh() {
    std::fclose(handle_);
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
    handle_ = std::fopen(file_.c_str(), "ab");
}

void AppLog::write(std::string line) {
    queue_.async([this, line = std::move(line)] {
        if (!opened_) open();
        if (handle_ && full_) startAfresh();
        if (!handle_) return;
        std::fwrite(line.data(), 1, line.size(), handle_);
        std::fflush(handle_);
        // Where the file ends now, other copies of the program's lines included.
        long end = std::ftell(handle_);
        full_ = end > 0 && static_cast<uintmax_t>(end) > kRotateBytes;
    });
}

void AppLog::flush() {
    queue_.sync([] {});
}

}  // namespace quintalis
