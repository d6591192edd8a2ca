// The read and write transaction engines and their command handlers.
#pragma once

#include "host/records.h"

#include <cstdint>

namespace qor {

int32_t DoRead(DriverRequest *request, int32_t mode);
int32_t DoWrite(DriverRequest *request, int32_t mode);

int32_t SingleRead(DriverRequest *request);
int32_t BlockRead(DriverRequest *request);
int32_t SingleWrite(DriverRequest *request);
int32_t BlockWrite(DriverRequest *request);

} // namespace qor
