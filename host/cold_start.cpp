// ColdStart: brings an instance into service.
#include "config/int_file.h"
#include "host/driver.h"
#include "link/port_commands.h"
#include "link/port_registry.h"
#include "platform/host_log.h"

#include <cstring>

namespace qor {

int32_t ColdStart(DriverRequest *request) {
    err(kLogProgress, "QOR%s> version compiled on Nov 15 1999 at time 10:30:27", kDriverId);
    driverEnded.store(0, std::memory_order_relaxed);
    DriverContext *context = request->context;
    const auto *params = static_cast<const ColdStartParams *>(request->params);
    if (context == nullptr || params == nullptr) {
        err(kLogFailure, "QOR%s> ColdStart() no context or parameters", kDriverId);
        return 1;
    }
    context->timeout = params->timeout;
    // A context that this library opened a port for (a repeated ColdStart)
    // gets that port closed, so the instance can open it again; any other
    // value in portHandle is garbage of a fresh context and never touched.
    CloseRegisteredPort(context);
    context->portHandle = QOR_NO_PORT;
    context->interFrameGap = 10;
    context->occupationEnabled = 1;
    ReadIntFile(request);
    std::memcpy(context->portSettings.portName, params->portName, QOR_PORT_NAME_SIZE);
    context->portSettings.baudRate = params->baudRate;
    context->portSettings.dataBits = params->dataBits;
    context->portSettings.stopBits = params->stopBits;
    context->portSettings.parity = params->parity;
    context->startMark = 787;
    if (params->openPort != 0) {
        platform::PortHandle port = OpenCom(context->portSettings);
        if (port == QOR_NO_PORT) {
            char name[QOR_PORT_NAME_SIZE + 1];
            TerminatedPortName(context->portSettings, name);
            err(kLogFailure, "QOR%s> ColdStart() unable to open %s port", kDriverId, name);
            return 1;
        }
        char name[QOR_PORT_NAME_SIZE + 1];
        TerminatedPortName(context->portSettings, name);
        err(kLogFailure, "QOR%s> ColdStart() port %s opened, file handle %u", kDriverId, name,
            static_cast<unsigned>(port));
        SetPort(context, port);
        ApplyTimeouts(port, context->timeout);
        err(kLogProgress,
            context->occupationEnabled != 0 ? "QOR%s> ColdStart() info: READ OCCUPATION used"
                                            : "QOR%s> ColdStart() info: NO READ OCCUPATION used",
            kDriverId);
    }
    err(kLogProgress, "QOR%s> ColdStart() exited, 0", kDriverId);
    return 0;
}

} // namespace qor
