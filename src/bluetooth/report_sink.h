#pragma once

#include "base/uuid.h"
#include "bluetooth/report_map.h"

namespace quintalis {

// Where input reports for one host go. Returns at once; delivery keeps the
// order of calls. Reports for unknown hosts are dropped silently.
class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual void send(ReportID report, const Bytes& bytes, const UUID& host) = 0;
};

}  // namespace quintalis
