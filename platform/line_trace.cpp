// PLACEHOLDER until the line trace is written: replace the whole file.
#include "platform/line_trace.h"

namespace platform {
void TraceBytes(TraceDirection, const void *, size_t) {}
} // namespace platform
