#include "mcp/line_channel.h"

#include <unistd.h>

#include <cerrno>

namespace quintalis::mcp {

LineChannel::LineChannel(int input, int output) : input_(input), output_(output) {}

bool LineChannel::fill() {
    char chunk[65536];
    while (true) {
        ssize_t got = ::read(input_, chunk, sizeof chunk);
        if (got > 0) {
            buffer_.append(chunk, static_cast<size_t>(got));
            return true;
        }
        if (got < 0 && errno == EINTR) continue;
        return false;
    }
}

LineChannel::Read LineChannel::next(std::string& line) {
    bool skipping = false;
    while (true) {
        size_t newline = buffer_.find('\n', scanned_);
        if (newline != std::string::npos) {
            if (skipping || newline > kLongestLine) {
                buffer_.erase(0, newline + 1);
                scanned_ = 0;
                return Read::oversized;
            }
            line.assign(buffer_, 0, newline);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            buffer_.erase(0, newline + 1);
            scanned_ = 0;
            return Read::line;
        }
        if (buffer_.size() > kLongestLine) {
            skipping = true;
            buffer_.clear();
        }
        scanned_ = buffer_.size();
        if (ended_ || !fill()) {
            ended_ = true;
            if (skipping) {
                // The overlong line's tail came after the drop: it is no line of its own.
                buffer_.clear();
                scanned_ = 0;
                return Read::oversized;
            }
            if (buffer_.empty()) return Read::end;
            line = std::move(buffer_);
            buffer_.clear();
            scanned_ = 0;
            return Read::line;
        }
    }
}

void LineChannel::write(const std::string& text) {
    std::lock_guard lock(writing_);
    size_t sent = 0;
    while (sent < text.size()) {
        ssize_t wrote = ::write(output_, text.data() + sent, text.size() - sent);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return;
        sent += static_cast<size_t>(wrote);
    }
}

}  // namespace quintalis::mcp
