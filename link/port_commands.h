// Opening and configuring the serial port, and the port commands CloseCom,
// ReOpenCom and ChangeQorParams.
#pragma once

#include "host/records.h"
#include "platform/platform.h"

#include <cstdint>

namespace qor {

// Opens the port named in the settings and configures queues, line and purge.
// Returns 0 when it cannot be opened (after its level-32 message).
platform::PortHandle OpenCom(const PortSettings &settings);
// The read and write time-out that a `timeout` in units of 10 ms gives:
// formed in 64 bits, 0 or below gives 1000 ms, capped at 2^31-1 ms.
uint32_t PortTimeoutMilliseconds(int32_t timeout);
// The time-out step: sets both total time-outs of the port from `timeout`.
void ApplyTimeouts(platform::PortHandle port, int32_t timeout);

int32_t CloseCom(DriverRequest *request);
int32_t ReOpenCom(DriverRequest *request);
int32_t ChangeQorParams(DriverRequest *request);

} // namespace qor
