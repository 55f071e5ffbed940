#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace quintalis {

class AppLog;

// Writes "[yyyy-MM-ddTHH:mm:ss] message" to standard error at once and to
// the log file, once the program has chosen one. Any thread.
void log(const std::string& message);

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
