// Opt-in trace of the raw bytes on the line: QORHT_TRACE=FILE in the
// environment appends every write and read with a time stamp, control
// characters named. Off by default; the driver's own messages are unaffected.
#pragma once

#include <cstddef>

namespace platform {

enum class TraceDirection { Out, In };

void TraceBytes(TraceDirection direction, const void *data, size_t count);

} // namespace platform
