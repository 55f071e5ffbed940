#pragma once

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace quintalis::testing {

// The names of this process's threads now, one entry per thread (Linux
// keeps the first 15 bytes of each).
inline std::multiset<std::string> threadNames() {
    std::multiset<std::string> names;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (!name.empty()) names.insert(name);
    }
    return names;
}

}  // namespace quintalis::testing
