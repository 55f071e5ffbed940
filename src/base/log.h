#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace quintalis {

class AppLog;

// Writes "[yyyy-MM-ddTHH:mm:ss] message" to standard error at once and to
// the log file, once the program has chosen one. Any thread. A message
// longer than kLoggedLineLimit is cut, so no caller can grow the log by
// megabytes in one line.
void log(const std::string& message);

// The most a log line shows of one value that came from outside (a
// request's target, a name a client or a file gave), and of a whole line.
inline constexpr size_t kLoggedValueLimit = 300;
inline constexpr size_t kLoggedLineLimit = 2000;

// `value` as a log line may show it: control characters, which could forge
// lines of their own, become "?", and past `limit` bytes it is cut at the
// start of a character and ends in "…".
std::string loggable(std::string_view value, size_t limit = kLoggedValueLimit);

// The file `log` also writes to. The program sets it once, before its first
// line; a process that sets none (a test) logs to standard error only.
void setLogFile(AppLog& file);
// Waits until every line logged so far has reached the file.
void flushLog();

// Sends log messages somewhere else instead of standard error and the file
// (tests read them this way); an empty sink restores the default.
using LogSink = std::function<void(const std::string& message)>;
void setLogSink(LogSink sink);

// The line `log` writes, for a given local time (seconds since 1970).
std::string formatLogLine(const std::string& message, std::time_t when);

}  // namespace quintalis
