// PLACEHOLDER until this module is written: replace the whole file.
#include "gates/gate_parser.h"

namespace qor {

const char *const memoryTypeNames[kMemoryTypeCount + 1] = {};
int32_t Parse(DriverRequest *) { return 1; }
int32_t SingleParse(DriverRequest *) { return 1; }
int32_t BlockParse(DriverRequest *) { return 1; }

} // namespace qor
