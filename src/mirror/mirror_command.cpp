#include "mirror/mirror_command.h"

#include <functional>
#include <map>

namespace quintalis {

bool mirrorCommand(const std::vector<std::string>& arguments) {
    using Command = std::function<void(const std::vector<std::string>&)>;
    static const std::map<std::string, Command> commands;
    auto found = arguments.size() > 1 ? commands.find(arguments[1]) : commands.end();
    if (found == commands.end()) return false;
    found->second(arguments);
    return true;
}

}  // namespace quintalis
