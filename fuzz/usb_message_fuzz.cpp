#include <cstddef>
#include <cstdint>

#include "base/clock.h"
#include "platform/linux/usb/host_protocol.h"
#include "platform/usb/messages.h"

using namespace quintalis;
using namespace quintalis::usbscreen;

namespace {

// Whatever a dictionary parses to must write back as bytes that parse to the
// same thing: no value is silently changed on the way.
void checkRoundTrip(const uint8_t* data, size_t size) {
    Dictionary first;
    try {
        first = parseDictionaryBody(ByteReader(data, size));
    } catch (const WireError&) {
        return;
    }
    ByteWriter once;
    writeDictionary(once, first);
    ByteReader reader(once.bytes());
    Atom atom = readAtom(reader);
    Dictionary second = parseDictionaryBody(atom.body);
    ByteWriter twice;
    writeDictionary(twice, second);
    if (once.bytes() != twice.bytes()) __builtin_trap();
}

}  // namespace

// The phone's IN stream as the host reads it: cut into transfers where the
// first byte says, framed, parsed and answered by the host's protocol after a
// ping, so every message reaches the dictionary and sample-buffer parsers.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t transfer = data[0] % 64 + 1;
    ++data;
    --size;
    checkRoundTrip(data, size);

    HostProtocol protocol(Clock::real());
    Bytes ping = device::ping();
    protocol.receive(parseMessage(ping));
    MessageFramer framer;
    for (size_t at = 0; at < size; at += transfer) {
        framer.feed(data + at, std::min(transfer, size - at));
        Bytes message;
        while (true) {
            auto result = framer.next(message);
            if (result != MessageFramer::Result::complete) {
                if (result == MessageFramer::Result::invalid) return 0;
                break;
            }
            try {
                protocol.receive(parseMessage(message));
            } catch (const WireError&) {
                return 0;  // the session would end here
            }
        }
        if (framer.buffered() > MessageFramer::kMaxMessage) __builtin_trap();
    }
    return 0;
}
