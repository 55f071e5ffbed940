#pragma once

#include <sys/types.h>
#include <unistd.h>

#include "platform/airplay_receiver.h"
#include "platform/linux/proc_table.h"

namespace quintalis {

// UxPlay, the AirPlay receiver of Linux desktops: on while a uxplay process
// of this user runs; off while none runs and nothing listens on the
// receiver's port; unknown while some other program holds that port.
class ProcAirPlayReceiver final : public AirPlayReceiver {
public:
    static constexpr uint16_t kPort = 7000;

    explicit ProcAirPlayReceiver(ProcTable table = ProcTable(), uid_t user = ::getuid(), uint16_t port = kPort);

    std::optional<bool> isOn() override;

private:
    ProcTable table_;
    uid_t user_;
    uint16_t port_;
};

}  // namespace quintalis
