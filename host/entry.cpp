// The exported entry point and its command table.
#include "exchange/occupation.h"
#include "exchange/transactions.h"
#include "gates/gate_parser.h"
#include "host/driver.h"
#include "link/port_commands.h"

namespace qor {

std::atomic<int32_t> driverEnded{0};

namespace {

using Handler = int32_t (*)(DriverRequest *);

// Slot i serves command code i + 1; codes 8, 9 and 16 have no handler.
constexpr Handler kCommandTable[16] = {
    ColdStart,   WarmStart,  SingleParse,     BlockParse, SingleRead, BlockRead,
    SingleWrite, nullptr,    nullptr,         BlockWrite, EndQor,     CloseCom,
    ReOpenCom,   GetQorInfo, ChangeQorParams, nullptr,
};

} // namespace
} // namespace qor

extern "C" QOR_EXPORT int32_t QorMain(DriverRequest *request) {
    if (qor::driverEnded.load(std::memory_order_relaxed) == 1) {
        return 0;
    }
    if (request == nullptr) {
        return 2;
    }
    uint32_t code = static_cast<uint32_t>(request->command);
    if (code < 1 || code > 16) {
        return 2;
    }
    qor::Handler handler = qor::kCommandTable[code - 1];
    return handler != nullptr ? handler(request) : 2;
}
