#pragma once

#include <atomic>
#include <mutex>

#include "platform/airplay_receiver.h"
#include "platform/child_processes.h"
#include "platform/launch_at_login.h"
#include "platform/program_installation.h"

namespace quintalis::testing {

class FakeLaunchAtLogin final : public LaunchAtLogin {
public:
    std::atomic<bool> enabled = false;
    std::optional<std::string> failure;  // set: every switch fails with it

    bool isEnabled() override { return enabled; }
    Outcome setEnabled(bool on) override {
        if (failure) return Outcome::failure(*failure);
        enabled = on;
        return Outcome::success();
    }
};

class FakeAirPlayReceiver final : public AirPlayReceiver {
public:
    std::optional<bool> on;
    std::atomic<int> asked = 0;

    std::optional<bool> isOn() override {
        ++asked;
        return on;
    }
};

// Records what would have been started; runs nothing.
class RecordingChildProcesses final : public ChildProcesses {
public:
    struct Call {
        std::vector<std::string> arguments;
    };
    std::optional<std::string> startFailure;

    ToolRun run(const std::filesystem::path&, const std::vector<std::string>& arguments,
                Duration) override {
        record(arguments);
        return {0, ""};
    }
    Outcome start(const std::filesystem::path&, const std::vector<std::string>& arguments) override {
        record(arguments);
        return startFailure ? Outcome::failure(*startFailure) : Outcome::success();
    }
    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    void record(const std::vector<std::string>& arguments) {
        std::lock_guard lock(mutex_);
        calls_.push_back({arguments});
    }
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

// An installation that records the steps asked of it, each of which may fail.
class FakeProgramInstallation final : public ProgramInstallation {
public:
    std::filesystem::path running = "/home/tester/Downloads/quintalis";
    std::filesystem::path installed = "/home/tester/.local/bin/quintalis";
    bool installedRuns = false;
    std::optional<std::string> trashFailure;
    std::optional<std::string> copyFailure;
    std::vector<std::string> steps;

    std::filesystem::path runningProgram() const override { return running; }
    std::filesystem::path installedProgram() const override { return installed; }
    bool runsInstalled() const override { return installedRuns; }
    bool runsFromRemovableMedia() const override { return false; }
    Outcome trashInstalledCopy() override {
        steps.push_back("trash");
        return trashFailure ? Outcome::failure(*trashFailure) : Outcome::success();
    }
    Outcome copyRunningProgram() override {
        steps.push_back("copy");
        return copyFailure ? Outcome::failure(*copyFailure) : Outcome::success();
    }
};

}  // namespace quintalis::testing
