// Station occupation commands.
#pragma once

#include "host/records.h"

#include <cstdint>

namespace qor {

int32_t WarmStart(DriverRequest *request);
int32_t EndQor(DriverRequest *request);

} // namespace qor
