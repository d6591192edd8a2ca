// The ports this library holds open, by context. Lets a repeated ColdStart
// close the port its context opened before, and never a handle that this
// library did not open: an entry counts only when it matches both the context
// address and the context's portHandle.
#pragma once

#include "host/records.h"
#include "platform/platform.h"

namespace qor {

// Stores `port` in context->portHandle and records it (port may be 0).
void SetPort(DriverContext *context, platform::PortHandle port);
// Closes the port recorded for this context if portHandle still holds it.
void CloseRegisteredPort(DriverContext *context);
// portName of the settings with a terminator, at most 12 characters.
void TerminatedPortName(const PortSettings &settings, char (&name)[QOR_PORT_NAME_SIZE + 1]);

} // namespace qor
