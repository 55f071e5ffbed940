#include "base/process_name.h"

#include <system_error>

#include "base/read_file.h"

namespace quintalis {
namespace {

constexpr size_t kCutNameLength = 15;  // TASK_COMM_LEN less its terminating zero

}  // namespace

std::optional<std::string> processName(const std::filesystem::path& processFolder) {
    auto name = readFile(processFolder / "comm");
    if (!name) return std::nullopt;
    if (!name->empty() && name->back() == '\n') name->pop_back();
    if (name->size() < kCutNameLength) return name;
    std::error_code error;
    const std::string program = std::filesystem::read_symlink(processFolder / "exe", error).filename().string();
    if (!error && program.starts_with(*name)) return program;
    const std::string arguments = readFile(processFolder / "cmdline").value_or("");
    const std::string first = arguments.substr(0, arguments.find('\0'));
    const std::string file = std::filesystem::path(first).filename().string();
    return file.starts_with(*name) ? file : name;
}

}  // namespace quintalis
