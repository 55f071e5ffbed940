#include "platform/linux/proc_airplay_receiver.h"

namespace quintalis {

ProcAirPlayReceiver::ProcAirPlayReceiver(ProcTable table, uid_t user, uint16_t port)
    : table_(std::move(table)), user_(user), port_(port) {}

std::optional<bool> ProcAirPlayReceiver::isOn() {
    for (const auto& process : table_.processes()) {
        if (process.uid == user_ && !process.ended && process.name == "uxplay") return true;
    }
    if (table_.listeners({port_}).empty()) return false;
    return std::nullopt;
}

}  // namespace quintalis
