// PLACEHOLDER until the POSIX serial layer is written: replace the whole file.
#include "platform/platform.h"

namespace platform {
PortHandle OpenPort(const char *) { return 0; }
void SetQueues(PortHandle, uint32_t, uint32_t) {}
void ConfigureLine(PortHandle, const LineSettings &) {}
void SetTimeouts(PortHandle, uint32_t) {}
void Purge(PortHandle) {}
void ClosePort(PortHandle) {}
int32_t WritePort(PortHandle, const void *, uint32_t) { return -1; }
int32_t ReadPort(PortHandle, void *, uint32_t) { return -1; }
void SleepMilliseconds(uint32_t) {}
int64_t CalendarSeconds() { return 0; }
} // namespace platform
