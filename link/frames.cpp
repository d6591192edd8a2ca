// PLACEHOLDER until this module is written: replace the whole file.
#include "link/frames.h"

namespace qor {

uint8_t Checksum(const char *, uint32_t) { return 0; }
int32_t SendFrame(const char *, uint32_t, DriverContext *) { return 2; }
int32_t SendEnq(DriverRequest *) { return 2; }
int32_t SendNak(DriverRequest *, uint32_t) { return 2; }
int32_t ReadByte(char *, platform::PortHandle) { return 1; }
int32_t Receive(char *, int32_t *, platform::PortHandle) { return 2; }
const char *NakCodeText(int32_t) { return ""; }

} // namespace qor
