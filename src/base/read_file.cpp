#include "base/read_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quintalis {

std::optional<std::string> readFile(const std::filesystem::path& file) {
    std::error_code ignored;
    return readFile(file, ignored);
}

std::optional<std::string> readFile(const std::filesystem::path& file, std::error_code& error) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::error_code(errno, std::generic_category());
        return std::nullopt;
    }
    std::string contents;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::error_code(errno, std::generic_category());
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        contents.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    error.clear();
    return contents;
}

}  // namespace quintalis
