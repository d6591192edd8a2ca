// GetQorInfo: the driver's name, banner, context size and default line.
#include "host/driver.h"
#include "platform/host_log.h"

namespace qor {
namespace {

// The name and the description lie back to back: the host finds the
// description 17 bytes after the name.
constexpr char kNameBlock[] = "Hitachi H series\0"
                              "Hitachi H series PLC's, connected to the CPU or to a COMM-2H "
                              "communication processor";

#define QOR_EDGE57                                                                                 \
    "\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD"                 \
    "\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD"                 \
    "\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD"

// Code page 437 double-line box, 180 bytes before the NUL.
constexpr char kBanner[] = "\x08"
                           "\xC9" QOR_EDGE57 "\xBB\n"
                           "\xBA"
                           "  ROVOZ:  Hitachi  H series              (32-bit driver) "
                           "\xBA\n"
                           "\xC8" QOR_EDGE57 "\xBC";
#undef QOR_EDGE57

static_assert(sizeof(kBanner) == 181, "banner is 180 bytes and a NUL");
static_assert(sizeof(kNameBlock) == 17 + 84 + 1, "name, NUL, description, NUL");

} // namespace

int32_t GetQorInfo(DriverRequest *request) {
    auto *info = static_cast<DriverInfo *>(request->params);
    if (info == nullptr) {
        err(kLogFailure, "QOR%s> GetQorInfo() no info record", kDriverId);
        return 2;
    }
    info->leadingCode = 70;
    info->driverName = kNameBlock;
    info->banner = kBanner;
    info->contextSize = static_cast<int32_t>(sizeof(DriverContext));
    info->middleCode = 4;
    info->defaultBaudRate = 19200;
    info->defaultDataBits = 7;
    info->defaultStopBits = 0;
    info->defaultParity = 2;
    info->trailingCode = 3;
    err(kLogProgress, "QOR%s> GetQorInfo() exited", kDriverId);
    return 0;
}

} // namespace qor
