// Request telegrams: read, write and the three occupation requests.
#pragma once

#include "host/records.h"

#include <cstdint>

namespace qor {

// Builds into `buffer` (txBuffer, QOR_BUFFER_SIZE bytes) and stores the
// length in characters, STX to CR.
void BuildReadRequest(DriverRequest *request, char *buffer, int32_t *length);
void BuildWriteRequest(DriverRequest *request, char *buffer, int32_t *length, int32_t mode);

} // namespace qor
