#include "base/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <string>

namespace quintalis {
namespace {

// Temporaries are named <file>.tmp.<writer's process id>.<count>.
std::string temporaryPrefix(const std::filesystem::path& file) { return file.filename().string() + ".tmp."; }

std::string utcStamp(int64_t wallMillis) {
    std::time_t seconds = static_cast<std::time_t>(wallMillis / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    return stamp;
}

bool processRuns(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

}  // namespace

bool writeFileAtomically(const std::filesystem::path& file, std::string_view contents) {
    std::error_code ignored;
    return writeFileAtomically(file, contents, ignored);
}

bool writeFileAtomically(const std::filesystem::path& file, std::string_view contents, std::error_code& error) {
    error.clear();
    static std::atomic<uint64_t> counter{0};
    std::filesystem::path temporary =
        file.parent_path() / (temporaryPrefix(file) + std::to_string(::getpid()) + "." + std::to_string(counter++));
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error.assign(errno, std::generic_category());
        return false;
    }
    const char* data = contents.data();
    size_t left = contents.size();
    bool ok = true;
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error.assign(written < 0 ? errno : ENOSPC, std::generic_category());
            ok = false;
            break;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    // Keep the first failure's reason.
    auto step = [&](bool done) {
        if (!done && !error) error.assign(errno, std::generic_category());
        return done;
    };
    ok = ok && step(::fsync(fd) == 0);
    ok = step(::close(fd) == 0) && ok;
    ok = ok && step(::rename(temporary.c_str(), file.c_str()) == 0);
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

std::vector<std::filesystem::path> removeAbandonedTemporaries(const std::filesystem::path& file) {
    std::vector<std::filesystem::path> removed;
    const std::string name = file.filename().string();
    std::error_code error;
    auto folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        // <file or file.anything>.tmp.<pid>.<count>
        std::string leftover = entry.path().filename().string();
        size_t mark = leftover.rfind(".tmp.");
        if (mark == std::string::npos || !leftover.starts_with(name)) continue;
        if (mark != name.size() && leftover[name.size()] != '.') continue;
        std::string writer = leftover.substr(mark + 5);
        size_t dot = writer.find('.');
        std::string pid = writer.substr(0, dot);
        if (dot == std::string::npos || pid.empty() || pid.size() > 9 ||
            writer.find_first_not_of("0123456789.") != std::string::npos) {
            continue;
        }
        if (processRuns(static_cast<pid_t>(std::stol(pid)))) continue;
        std::error_code ignored;
        if (std::filesystem::remove(entry.path(), ignored)) removed.push_back(entry.path());
    }
    return removed;
}

std::optional<std::filesystem::path> moveAsideCorrupt(const std::filesystem::path& file, int64_t wallMillis,
                                                      std::error_code& error) {
    std::filesystem::path aside = file;
    aside += ".corrupt-" + utcStamp(wallMillis);
    for (int n = 2; std::filesystem::exists(aside); ++n) {
        aside = file;
        aside += ".corrupt-" + utcStamp(wallMillis) + "-" + std::to_string(n);
    }
    std::filesystem::rename(file, aside, error);
    if (error) return std::nullopt;
    return aside;
}

}  // namespace quintalis
