#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "base/clock.h"

namespace quintalis {

// Which connections a server keeps while clients are slow to send their
// requests. Each connection has until `timeout` after it was admitted to
// send its whole request (head, and the body it announces); one that does
// not is expired, however steadily it dribbles bytes. While `capacity`
// connections are open a newcomer is still admitted by evicting the one that
// has been waiting longest for its request: a client that sent its request is
// being served and keeps its place, and one holding sockets open without
// asking for anything cannot lock the others out. Only when every open
// connection is being served is a newcomer turned away.
//
// Decides only; the server closes what it names. Not thread-safe: owned by
// the server's I/O thread.
class ConnectionRoster {
public:
    using ID = uint64_t;

    ConnectionRoster(size_t capacity, Duration timeout) : capacity_(capacity), timeout_(timeout) {}

    struct Admission {
        bool admitted = false;
        std::optional<ID> evicted;  // to close now: it made room for the newcomer
    };
    Admission admit(ID id, MonotonicTime now);
    // The connection's request is whole: it is no longer timed or evicted.
    void requestRead(ID id);
    // The connection closed, for whatever reason; unknown ids are ignored.
    void closed(ID id);
    // The connections whose time for a request ran out by `now`, oldest first;
    // they are forgotten, as if closed.
    std::vector<ID> expire(MonotonicTime now);
    // When the next connection waiting for its request runs out of time.
    std::optional<MonotonicTime> nextDeadline() const;

    size_t open() const { return open_.size(); }
    size_t waiting() const { return waiting_.size(); }

private:
    void forget(ID id);

    const size_t capacity_;
    const Duration timeout_;
    std::map<ID, std::optional<MonotonicTime>> open_;  // admission time while waiting for the request
    std::set<std::pair<MonotonicTime, ID>> waiting_;   // by admission time, then id
};

}  // namespace quintalis
