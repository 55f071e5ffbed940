#include "platform/linux/json_file_defaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/atomic_file.h"
#include "base/log.h"
#include "base/read_file.h"
#include "base/text.h"

namespace quintalis {

JSONFileDefaults::JSONFileDefaults(std::filesystem::path file, Clock& clock) : file_(std::move(file)), clock_(clock) {}

JSONFileDefaults::Signature JSONFileDefaults::currentSignature() const {
    struct stat info {};
    if (::stat(file_.c_str(), &info) != 0) return Signature{errno == ENOENT || errno == ENOTDIR ? 0 : errno};
    return Signature{0, static_cast<uint64_t>(info.st_ino), static_cast<int64_t>(info.st_size),
                     static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

void JSONFileDefaults::reloadIfChanged() {
    Signature now = currentSignature();
    if (now == loaded_) return;
    loaded_ = now;
    values_ = JSON::object();
    std::optional<std::string> reason;
    if (now.statError != 0) {
        reason = std::error_code(now.statError, std::generic_category()).message();
    } else if (now.size >= 0) {
        std::error_code error;
        auto text = readFile(file_, error);
        auto parsed = text ? parseJSON(*text) : std::nullopt;
        if (!text) {
            reason = error.message();
        } else if (!parsed) {
            reason = "not valid JSON";
        } else if (!parsed->is_object()) {
            reason = "not a JSON object";
        } else {
            values_ = std::move(*parsed);
        }
    }
    problem_ = reason ? std::optional(file_.string() + " can't be read (" + *reason + ")") : std::nullopt;
    if (problem_) log("preferences: " + *problem_);
}

std::optional<JSON> JSONFileDefaults::read(const std::string& key) {
    std::lock_guard lock(mutex_);
    reloadIfChanged();
    auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return *found;
}

void JSONFileDefaults::update(const std::string& key, std::optional<JSON> value) {
    std::lock_guard lock(mutex_);
    std::error_code ignored;
    std::filesystem::create_directories(file_.parent_path(), ignored);
    // The lock file serialises read-modify-write cycles across processes.
    std::filesystem::path lockPath = file_;
    lockPath += ".lock";
    int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd >= 0) ::flock(lockFd, LOCK_EX);
    reloadIfChanged();
    if (keepDamagedFile()) {
        if (value) {
            values_[key] = std::move(*value);
        } else {
            values_.erase(key);
        }
        if (writeFileAtomically(file_, values_.dump(2) + "\n")) {
            loaded_ = currentSignature();
            problem_.reset();
        }
    }
    if (lockFd >= 0) ::close(lockFd);
}

bool JSONFileDefaults::keepDamagedFile() {
    // Only a file that is there but unreadable; one that cannot even be
    // looked at is left to the write, which says whether it can be replaced.
    if (!problem_ || loaded_.statError != 0) return true;
    std::error_code error;
    auto aside = moveAsideCorrupt(file_, clock_.wallMillis(), error);
    if (!aside) {
        log("preferences: " + *problem_ + " nor moved aside (" + error.message() + "); not writing over it");
        return false;
    }
    log("preferences: " + *problem_ + "; kept it as " + aside->string());
    return true;
}

std::optional<bool> JSONFileDefaults::boolValue(const std::string& key) {
    auto value = read(key);
    if (!value) return std::nullopt;
    if (value->is_boolean()) return value->get<bool>();
    if (value->is_number()) return value->get<double>() != 0;
    // People editing the file by hand write "yes" as often as true.
    if (value->is_string()) {
        std::string text = asciiLowercase(value->get<std::string>());
        return text == "true" || text == "yes" || text == "1";
    }
    return std::nullopt;
}

std::optional<std::string> JSONFileDefaults::problem() {
    std::lock_guard lock(mutex_);
    reloadIfChanged();
    return problem_;
}

std::optional<int64_t> JSONFileDefaults::intValue(const std::string& key) {
    auto value = read(key);
    if (!value) return std::nullopt;
    if (value->is_number_integer()) return value->get<int64_t>();
    if (value->is_number()) return static_cast<int64_t>(value->get<double>());
    if (value->is_boolean()) return value->get<bool>() ? 1 : 0;
    return std::nullopt;
}

std::optional<std::string> JSONFileDefaults::stringValue(const std::string& key) {
    auto value = read(key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

void JSONFileDefaults::setBool(const std::string& key, bool value) { update(key, JSON(value)); }
void JSONFileDefaults::setInt(const std::string& key, int64_t value) { update(key, JSON(value)); }
void JSONFileDefaults::setString(const std::string& key, const std::string& value) { update(key, JSON(value)); }
void JSONFileDefaults::remove(const std::string& key) { update(key, std::nullopt); }

}  // namespace quintalis
