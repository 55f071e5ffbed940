#pragma once

#include <filesystem>
#include <mutex>

#include "base/clock.h"
#include "base/json.h"
#include "platform/user_defaults.h"

namespace quintalis {

// User defaults kept in one JSON object file. Every write replaces the file
// atomically (temporary file, then rename) under an advisory lock, so readers
// never see half a file and two processes never lose each other's keys.
// Reads re-load the file whenever its identity, size or time changed; a
// file that exists but cannot be read or parsed reads as empty, is reported
// by problem(), and is logged once per change of the file. The next write
// first moves such a file aside to "<file>.corrupt-<UTC time>", so nothing
// the user wrote is lost, and the problem ends with that write.
// Thread-safe: one mutex guards the cached contents.
class JSONFileDefaults final : public UserDefaults {
public:
    explicit JSONFileDefaults(std::filesystem::path file, Clock& clock = Clock::real());

    std::optional<bool> boolValue(const std::string& key) override;
    std::optional<int64_t> intValue(const std::string& key) override;
    std::optional<std::string> stringValue(const std::string& key) override;
    void setBool(const std::string& key, bool value) override;
    void setInt(const std::string& key, int64_t value) override;
    void setString(const std::string& key, const std::string& value) override;
    void remove(const std::string& key) override;
    std::optional<std::string> problem() override;

private:
    struct Signature {
        int statError = 0;
        uint64_t inode = 0;
        int64_t size = -1;
        int64_t mtimeNanos = 0;
        bool operator==(const Signature&) const = default;
    };

    std::optional<JSON> read(const std::string& key);
    void update(const std::string& key, std::optional<JSON> value);
    void reloadIfChanged();
    // Moves a damaged file aside before a write; false when it must stay,
    // and the write with it.
    bool keepDamagedFile();
    Signature currentSignature() const;

    std::filesystem::path file_;
    Clock& clock_;
    std::mutex mutex_;
    JSON values_ = JSON::object();
    std::optional<std::string> problem_;
    Signature loaded_;
};

}  // namespace quintalis
