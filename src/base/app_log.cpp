#include "base/app_log.h"

#include <unistd.h>

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
    handle_ = std::fopen(file_.c_str(), "ab");
    if (handle_) {
        std::fseek(handle_, 0, SEEK_END);
        long end = std::ftell(handle_);
        if (end > 0 && static_cast<uintmax_t>(end) > kRotateBytes) startAfresh();
    }
}

// Emptied in place, not replaced: the engine, the MCP server and the app may
// all have the file open for appending, and a copy that went on writing into
// a removed file would lose every line from then on.
void AppLog::startAfresh() {
    std::fflush(handle_);
    if (ftruncate(fileno(handle_), 0) != 0) return;  // it stays full, and is tried again at the next line
    full_ = false;
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
