// PLACEHOLDER until this module is written: replace the whole file.
#include "link/port_registry.h"

namespace qor {

void SetPort(DriverContext *context, platform::PortHandle port) { context->portHandle = port; }
void CloseRegisteredPort(DriverContext *) {}
void TerminatedPortName(const PortSettings &, char (&name)[QOR_PORT_NAME_SIZE + 1]) { name[0] = 0; }

} // namespace qor
