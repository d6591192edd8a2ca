// PLACEHOLDER until this module is written: replace the whole file.
#include "exchange/transactions.h"

namespace qor {

int32_t DoRead(DriverRequest *, int32_t) { return 2; }
int32_t DoWrite(DriverRequest *, int32_t) { return 2; }
int32_t SingleRead(DriverRequest *) { return 2; }
int32_t BlockRead(DriverRequest *) { return 2; }
int32_t SingleWrite(DriverRequest *) { return 2; }
int32_t BlockWrite(DriverRequest *) { return 2; }

} // namespace qor
