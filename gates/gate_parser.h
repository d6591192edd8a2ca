// Gate address texts: parsing into a GateAddress and the single and block
// checks of the address parser commands.
#pragma once

#include "host/records.h"

#include <cstdint>

namespace qor {

constexpr int kMemoryTypeCount = 21;
// Positions are the memory-type codes; an empty text ends the table.
extern const char *const memoryTypeNames[kMemoryTypeCount + 1];

int32_t Parse(DriverRequest *request);
int32_t SingleParse(DriverRequest *request);
int32_t BlockParse(DriverRequest *request);

} // namespace qor
