// PLACEHOLDER until this module is written: replace the whole file.
#include "link/port_commands.h"

namespace qor {

platform::PortHandle OpenCom(const PortSettings &) { return 0; }
uint32_t PortTimeoutMilliseconds(int32_t) { return 1000; }
void ApplyTimeouts(platform::PortHandle, int32_t) {}
int32_t CloseCom(DriverRequest *) { return 0; }
int32_t ReOpenCom(DriverRequest *) { return 2; }
int32_t ChangeQorParams(DriverRequest *) { return 2; }

} // namespace qor
