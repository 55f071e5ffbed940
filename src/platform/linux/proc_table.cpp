#include "platform/linux/proc_table.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <sstream>

#include "base/process_name.h"
#include "base/read_file.h"
#include "base/text.h"

namespace quintalis {
namespace {

constexpr std::string_view kListenState = "0A";

std::optional<pid_t> pidOf(const std::string& name) {
    int64_t value = 0;
    if (name.empty() || name[0] < '1' || name[0] > '9') return std::nullopt;
    if (parseDecimal(name, value) != DecimalParse::ok || value > INT32_MAX) return std::nullopt;
    return static_cast<pid_t>(value);
}

// The real user id from the "Uid:" line of /proc/<pid>/status.
std::optional<uid_t> realUser(const std::string& status) {
    std::istringstream lines(status);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Uid:", 0) != 0) continue;
        std::istringstream fields(line.substr(4));
        uint64_t uid = 0;
        if (fields >> uid) return static_cast<uid_t>(uid);
    }
    return std::nullopt;
}

// The state letter of /proc/<pid>/stat, which follows the parenthesised
// command name; the name may itself hold parentheses and blanks.
std::optional<char> stateLetter(const std::string& stat) {
    auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return std::nullopt;
    return stat[close + 2];
}

}  // namespace

std::set<uint64_t> listeningSocketInodes(std::string_view netTCP, const std::vector<uint16_t>& ports) {
    // Each line after the header: "sl local_address rem_address st tx:rx
    // tr:when retrnsmt uid timeout inode ...", the local address as
    // HEXADDRESS:HEXPORT.
    std::set<uint64_t> inodes;
    std::istringstream lines{std::string(netTCP)};
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
        uint64_t inode = 0;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode)) {
            continue;
        }
        if (state != kListenState || inode == 0) continue;
        auto colon = local.rfind(':');
        if (colon == std::string::npos) continue;
        unsigned long port = std::strtoul(local.c_str() + colon + 1, nullptr, 16);
        for (uint16_t wanted : ports) {
            if (port == wanted) inodes.insert(inode);
        }
    }
    return inodes;
}

ProcTable::ProcTable(std::filesystem::path root) : root_(std::move(root)) {}

std::set<uint64_t> ProcTable::listeners(const std::vector<uint16_t>& ports) const {
    std::set<uint64_t> inodes;
    for (const char* table : {"net/tcp", "net/tcp6"}) {
        if (auto text = readFile(root_ / table)) inodes.merge(listeningSocketInodes(*text, ports));
    }
    return inodes;
}

std::optional<ProcessEntry> ProcTable::process(pid_t pid) const {
    auto folder = root_ / std::to_string(pid);
    auto status = readFile(folder / "status");
    auto stat = readFile(folder / "stat");
    auto name = processName(folder);
    if (!status || !stat || !name) return std::nullopt;
    auto uid = realUser(*status);
    auto state = stateLetter(*stat);
    if (!uid || !state) return std::nullopt;
    return ProcessEntry{pid, *uid, *name, *state == 'Z' || *state == 'X'};
}

std::filesystem::path ProcTable::executable(pid_t pid) const {
    std::error_code error;
    std::string target = std::filesystem::read_symlink(root_ / std::to_string(pid) / "exe", error).string();
    // An updated program runs on from its old, now unlinked file.
    const std::string_view gone = " (deleted)";
    if (target.size() > gone.size() && target.compare(target.size() - gone.size(), gone.size(), gone) == 0) {
        target.resize(target.size() - gone.size());
    }
    return error ? std::filesystem::path() : std::filesystem::path(target);
}

std::vector<ProcessEntry> ProcTable::processes() const {
    std::vector<ProcessEntry> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root_, error)) {
        auto pid = pidOf(entry.path().filename().string());
        if (!pid) continue;
        // A process may end between the listing and the reads.
        if (auto process = this->process(*pid)) found.push_back(*process);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return found;
}

bool ProcTable::holdsAnyOf(pid_t pid, const std::set<uint64_t>& sockets) const {
    if (sockets.empty()) return false;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root_ / std::to_string(pid) / "fd", error)) {
        std::error_code unreadable;
        std::string target = std::filesystem::read_symlink(entry.path(), unreadable).string();
        const std::string prefix = "socket:[";
        if (unreadable || target.rfind(prefix, 0) != 0 || target.back() != ']') continue;
        uint64_t inode = std::strtoull(target.c_str() + prefix.size(), nullptr, 10);
        if (sockets.count(inode)) return true;
    }
    return false;
}

}  // namespace quintalis
