#pragma once

#include <optional>
#include <string>

namespace quintalis {

// The app's preferences: small typed values under string keys that survive
// restarts ("paused", "setupDone", ...). A read always sees the latest write,
// including one made by another process. Safe to call from any thread.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    virtual std::optional<bool> boolValue(const std::string& key) = 0;
    virtual std::optional<int64_t> intValue(const std::string& key) = 0;
    virtual std::optional<std::string> stringValue(const std::string& key) = 0;

    virtual void setBool(const std::string& key, bool value) = 0;
    virtual void setInt(const std::string& key, int64_t value) = 0;
    virtual void setString(const std::string& key, const std::string& value) = 0;
    virtual void remove(const std::string& key) = 0;

    // Why the stored preferences cannot be read right now (they exist but are
    // unreadable or damaged), as "<where> can't be read (<reason>)"; nothing
    // when they read fine or do not exist yet. Reads then answer as if empty.
    virtual std::optional<std::string> problem() = 0;

    // Absent reads as false, as preferences conventionally do.
    bool boolForKey(const std::string& key) { return boolValue(key).value_or(false); }
};

}  // namespace quintalis
