#pragma once

#include <map>
#include <mutex>

#include "base/json.h"
#include "platform/bundle_info.h"
#include "platform/host_environment.h"
#include "platform/user_defaults.h"

namespace quintalis::testing {

class FakeHostEnvironment final : public HostEnvironment {
public:
    std::filesystem::path home = "/home/tester";
    std::optional<std::string> name = "Test Computer";
    std::map<std::string, std::string> variables;

    std::filesystem::path homeDirectory() const override { return home; }
    std::filesystem::path applicationSupportDirectory() const override { return home / ".local/share"; }
    std::filesystem::path preferencesDirectory() const override { return home / ".config/quintalis"; }
    std::filesystem::path configurationDirectory() const override { return home / ".config"; }
    std::filesystem::path logsDirectory() const override { return home / ".local/state/quintalis"; }
    std::optional<std::string> computerName() const override { return name; }
    std::optional<std::string> variable(const std::string& key) const override {
        auto found = variables.find(key);
        if (found == variables.end()) return std::nullopt;
        return found->second;
    }
};

class FakeBundleInfo final : public BundleInfo {
public:
    std::map<std::string, std::string> values;
    std::filesystem::path path = "/opt/quintalis";

    std::optional<std::string> stringValue(const std::string& key) const override {
        auto found = values.find(key);
        if (found == values.end()) return std::nullopt;
        return found->second;
    }
    std::filesystem::path bundlePath() const override { return path; }
};

// Defaults held in memory; setUnreadable plays a damaged store.
class MemoryDefaults final : public UserDefaults {
public:
    void setUnreadable(std::optional<std::string> problem) {
        std::lock_guard lock(mutex_);
        unreadable_ = std::move(problem);
    }

    std::optional<bool> boolValue(const std::string& key) override {
        auto value = get(key);
        return value && value->is_boolean() ? std::optional(value->get<bool>()) : std::nullopt;
    }
    std::optional<int64_t> intValue(const std::string& key) override {
        auto value = get(key);
        return value && value->is_number_integer() ? std::optional(value->get<int64_t>()) : std::nullopt;
    }
    std::optional<std::string> stringValue(const std::string& key) override {
        auto value = get(key);
        return value && value->is_string() ? std::optional(value->get<std::string>()) : std::nullopt;
    }
    void setBool(const std::string& key, bool value) override { set(key, value); }
    void setInt(const std::string& key, int64_t value) override { set(key, value); }
    void setString(const std::string& key, const std::string& value) override { set(key, value); }
    void remove(const std::string& key) override {
        std::lock_guard lock(mutex_);
        values_.erase(key);
    }
    std::optional<std::string> problem() override {
        std::lock_guard lock(mutex_);
        return unreadable_;
    }

private:
    std::optional<JSON> get(const std::string& key) {
        std::lock_guard lock(mutex_);
        auto found = values_.find(key);
        if (found == values_.end()) return std::nullopt;
        return found->second;
    }
    void set(const std::string& key, JSON value) {
        std::lock_guard lock(mutex_);
        values_[key] = std::move(value);
    }
    std::mutex mutex_;
    std::map<std::string, JSON> values_;
    std::optional<std::string> unreadable_;
};

}  // namespace quintalis::testing
