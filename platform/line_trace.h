// Opt-in trace of the raw bytes on the line: QORHT_TRACE=FILE in the
// environment appends every write and read with a time stamp, control
// characters named. Off by default; the driver's own messages are unaffected.
#pragma once

#include <cstddef>

namespace platform {

enum class TraceDirection { Out, In };

void TraceBytes(TraceDirection direction, const void *data, size_t count);

// Internal, for tests: closes the trace file and forgets QORHT_TRACE, so that
// the next TraceBytes reads the environment again. Not part of the driver's
// interface (the library exports nothing but QorMain).
void ResetLineTrace();

} // namespace platform
