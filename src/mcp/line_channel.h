#pragma once

#include <cstddef>
#include <mutex>
#include <string>

namespace quintalis::mcp {

// Newline-delimited messages over two file descriptors, as MCP's stdio
// transport carries them. One thread reads; any thread may write, and
// each line goes out whole. The descriptors stay open: they are the
// caller's.
class LineChannel {
public:
    // Longer lines are skipped, not buffered without end.
    static constexpr size_t kLongestLine = 16 * 1024 * 1024;

    LineChannel(int input, int output);

    enum class Read { line, oversized, end };
    // The next line, without its "\n" (or "\r\n"); `oversized` once for a
    // line past kLongestLine, which is dropped; `end` when the input is
    // closed (a last line without "\n" still counts).
    Read next(std::string& line);
    // Writes all of `text`. A client that has gone is not an error here:
    // the reader sees the end of its input soon after.
    void write(const std::string& text);

private:
    bool fill();

    const int input_;
    const int output_;
    std::string buffer_;  // the reader's
    size_t scanned_ = 0;  // how much of buffer_ holds no "\n"
    bool ended_ = false;
    std::mutex writing_;
};

}  // namespace quintalis::mcp
