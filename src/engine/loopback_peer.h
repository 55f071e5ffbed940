#pragma once

#include <sys/socket.h>

namespace quintalis {

// The two ends of a TCP connection, as the server's side sees them.
struct ConnectionEnds {
    sockaddr_storage local{};
    sockaddr_storage remote{};
};

// What became of the program at the other end of a loopback connection
// after it stopped sending. TCP says the same (a FIN) whether it only shut
// its sending side, as some HTTP tools do, waiting for the answer, or closed
// the socket and left; but both ends live on this computer, so the kernel
// can tell whether any process still holds the client's socket.
enum class LoopbackPeer {
    holdsSocket,  // it still reads: answer it
    gone,         // closed or killed: nobody reads the answer
    unknown,      // the kernel would not say (no socket diagnostics here)
};

// Asks the kernel (sock_diag) about the client's end of the connection
// whose server side is `ends`. Any thread; a few microseconds.
LoopbackPeer loopbackPeer(const ConnectionEnds& ends);

}  // namespace quintalis
