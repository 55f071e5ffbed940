#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "base/serial_queue.h"

namespace quintalis {

// Appends log lines to Quintalis.log. The file is opened at the first write
// of the process; whenever it is larger than `kRotateBytes` before a line,
// at launch or while the program runs, it is started afresh, so however
// much is logged the file stays within the limit and one line. Writes are
// queued on "quintalis.log" and never reach the caller as errors.
class AppLog {
public:
    static constexpr uintmax_t kRotateBytes = 2'000'000;

    explicit AppLog(std::filesystem::path file);
    ~AppLog();

    // Appends a line that already ends with a line feed. Any thread.
    void write(std::string line);
    // Waits until every line written so far has reached the file.
    void flush();

private:
    void open();
    void startAfresh();

    std::filesystem::path file_;
    bool opened_ = false;
    std::FILE* handle_ = nullptr;  // owned by queue_, as is full_
    bool full_ = false;            // past kRotateBytes: the next line starts the file afresh
    SerialQueue queue_{"quintalis.log"};
};

}  // namespace quintalis
