#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quintalis {

// What the kernel tells about processes and sockets through /proc, read
// without starting any tool. Only processes of the reading user show their
// open files, which is all the callers ask about. Every function blocks for
// the few file reads it needs; any thread may call.

struct ProcessEntry {
    pid_t pid = 0;
    uid_t uid = 0;     // the real user
    std::string name;  // as processName reads it: whole, not cut to 15 bytes
    bool ended = false;  // a zombie: it has exited, its parent has not yet reaped it
};

// The socket inodes of the TCP listeners on any of the ports, from the text
// of /proc/net/tcp or /proc/net/tcp6.
std::set<uint64_t> listeningSocketInodes(std::string_view netTCP, const std::vector<uint16_t>& ports);

class ProcTable {
public:
    explicit ProcTable(std::filesystem::path root = "/proc");

    // The listeners on the ports, IPv4 and IPv6 alike.
    std::set<uint64_t> listeners(const std::vector<uint16_t>& ports) const;
    // Every process, in pid order.
    std::vector<ProcessEntry> processes() const;
    std::optional<ProcessEntry> process(pid_t pid) const;
    // The program file the process runs, also when that file was replaced
    // or removed since it started; empty when it cannot be read.
    std::filesystem::path executable(pid_t pid) const;
    // True when one of the process's open files is one of the sockets.
    bool holdsAnyOf(pid_t pid, const std::set<uint64_t>& sockets) const;

private:
    std::filesystem::path root_;
};

}  // namespace quintalis
