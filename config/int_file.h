// The per-instance station initialisation file (INT file).
#pragma once

#include "host/records.h"

#include <cstddef>
#include <cstdio>

namespace qor {

// Forms QOR<id><nn>.INT, QOR<id><n>.INT and QOR<id>.INT in turn in `name`
// and opens each for reading as text until one opens. The last name formed
// stays in `name`. Returns the open file or nullptr.
std::FILE *OpenIntFile(const char *driverId, char *name, size_t nameSize, uint32_t instance);
// Resets the station table and applies the instance's INT file, if any.
void ReadIntFile(DriverRequest *request);

} // namespace qor
