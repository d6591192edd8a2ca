// Process-wide state and the command handlers that QorMain dispatches to.
#pragma once

#include "host/records.h"

#include <atomic>
#include <cstdint>

namespace qor {

// One ended flag for every instance served by this loaded library. Read and
// written from whatever threads the host uses, hence atomic (relaxed: it
// orders nothing else).
extern std::atomic<int32_t> driverEnded;

int32_t GetQorInfo(DriverRequest *request);
int32_t ColdStart(DriverRequest *request);

} // namespace qor
