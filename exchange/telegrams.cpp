// PLACEHOLDER until this module is written: replace the whole file.
#include "exchange/telegrams.h"

namespace qor {

void BuildReadRequest(DriverRequest *, char *, int32_t *length) { *length = 0; }
void BuildWriteRequest(DriverRequest *, char *, int32_t *length, int32_t) { *length = 0; }

} // namespace qor
