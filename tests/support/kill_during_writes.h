#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>

namespace quintalis::testing {

// A folder for files whose writers are killed: in memory where the system
// has such a folder, since a killed process loses nothing the kernel
// already holds, and flushes to memory do not wait on a busy disk.
inline std::filesystem::path killTestFolder() {
    std::error_code error;
    return std::filesystem::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0
               ? std::filesystem::path("/dev/shm")
               : std::filesystem::temp_directory_path();
}

// What a run of killDuringWrites saw.
struct KillTally {
    int kills = 0;
    int halfWritten = 0;  // kills that left a temporary beside the file: the writer was writing it
    int inFlight = 0;     // kills after which the file held the write its writer had not yet reported
};

// Whether the writer with process id `writer` left a temporary of `file`
// beside it.
inline bool hasTemporary(const std::filesystem::path& file, pid_t writer) {
    const std::string prefix = file.filename().string() + ".tmp." + std::to_string(writer) + ".";
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
        if (entry.path().filename().string().starts_with(prefix)) return true;
    }
    return false;
}

// Kills a writer with SIGKILL, `kills` times, at random moments while it
// replaces `file` again and again, and checks after each kill that the
// file holds the last version the writer finished or the one it was
// writing, whole. `write(version)` replaces the file with that version's
// content; `read()` gives the version the file holds, nothing when the file
// is missing, does not parse, or is no version's content. No version is
// written twice, even one a killed writer may have begun. The writer is a
// forked child that reports each finished write on a pipe; it is killed a
// random number of writes in, after a random pause, so every kill lands in
// the writing loop whatever the machine's load.
inline KillTally killDuringWrites(const std::filesystem::path& file, int kills, const std::function<void(int64_t)>& write,
                                  const std::function<std::optional<int64_t>()>& read) {
    std::random_device seed;
    const unsigned seedValue = seed();
    SCOPED_TRACE("seed " + std::to_string(seedValue));
    std::mt19937 random(seedValue);
    KillTally tally;
    std::optional<int64_t> version = read();  // what the file holds
    int64_t begun = version.value_or(0);        // the highest version a writer may have begun
    if (!version) {
        ADD_FAILURE() << "the file holds no version before the first kill";
        return tally;
    }
    for (int round = 0; round < kills; ++round) {
        int reports[2];
        if (::pipe(reports) != 0) {
            ADD_FAILURE() << "pipe failed";
            return tally;
        }
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(reports[0]);
            for (int64_t next = begun + 1;; ++next) {
                write(next);
                if (::write(reports[1], &next, sizeof next) != sizeof next) ::_exit(1);
            }
        }
        ::close(reports[1]);
        // The last version this writer finished; until it finishes one, the
        // file's version stands in for it, and its first is the one in flight.
        int64_t finished = *version;
        int64_t inFlight = begun + 1;
        const int waitFor = std::uniform_int_distribution<int>(0, 2)(random);
        for (int seen = 0; seen < waitFor && ::read(reports[0], &finished, sizeof finished) == sizeof finished;) {
            inFlight = finished + 1;
            ++seen;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 400)(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        for (int64_t reported = 0; ::read(reports[0], &reported, sizeof reported) == sizeof reported;) {
            finished = reported;
            inFlight = reported + 1;
        }
        ::close(reports[0]);
        if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) {
            ADD_FAILURE() << "the writer ended by itself, status " << status;
            return tally;
        }
        ++tally.kills;
        std::optional<int64_t> found = read();
        if (!found || (*found != finished && *found != inFlight)) {
            ADD_FAILURE() << "after kill " << tally.kills << " the file holds "
                          << (found ? "version " + std::to_string(*found) : "no version") << ", not " << finished
                          << " or " << inFlight;
            return tally;
        }
        if (*found == inFlight) ++tally.inFlight;
        if (hasTemporary(file, child)) ++tally.halfWritten;
        version = found;
        begun = inFlight;
    }
    return tally;
}

}  // namespace quintalis::testing
