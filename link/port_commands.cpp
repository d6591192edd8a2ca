// Opening and configuring the serial port, and the port commands CloseCom,
// ReOpenCom and ChangeQorParams.
#include "link/port_commands.h"

#include "link/port_registry.h"
#include "platform/host_log.h"

#include <cstring>

namespace qor {
namespace {

constexpr uint32_t kDefaultTimeoutMs = 1000;
constexpr int64_t kLongestTimeoutMs = INT32_MAX;

} // namespace

platform::PortHandle OpenCom(const PortSettings &settings) {
    platform::PortHandle port = 0;
    // A name that fills all 12 bytes has no terminator: reading on would take
    // in the line settings behind it and could name another device, so such a
    // name does not open at all.
    if (std::memchr(settings.portName, '\0', QOR_PORT_NAME_SIZE) != nullptr) {
        port = platform::OpenPort(settings.portName);
    }
    if (port == 0) {
        err(kLogFailure, "QOR%s> OpenCom() exited with error", kDriverId);
        return 0;
    }
    // What the device refuses here goes unnoticed: the port is usable with
    // whatever configuration it accepted.
    platform::SetQueues(port, platform::kQueueSize, platform::kQueueSize);
    platform::ConfigureLine(port, platform::LineSettings{settings.baudRate, settings.dataBits,
                                                         settings.stopBits, settings.parity});
    platform::Purge(port);
    return port;
}

uint32_t PortTimeoutMilliseconds(int32_t timeout) {
    // 0 would mean "wait for ever" to the serial interface and a negative
    // value wraps to almost that; neither is a reply time-out.
    if (timeout <= 0) {
        return kDefaultTimeoutMs;
    }
    int64_t milliseconds = static_cast<int64_t>(timeout) * 10;
    return static_cast<uint32_t>(milliseconds > kLongestTimeoutMs ? kLongestTimeoutMs
                                                                  : milliseconds);
}

void ApplyTimeouts(platform::PortHandle port, int32_t timeout) {
    platform::SetTimeouts(port, PortTimeoutMilliseconds(timeout));
}

int32_t CloseCom(DriverRequest *request) {
    DriverContext *context = request != nullptr ? request->context : nullptr;
    if (context == nullptr) {
        err(kLogFailure, "QOR%s> CloseCom() no context", kDriverId);
        return 0;
    }
    // Closes only a port that this library opened for this context; whatever
    // else portHandle may hold is not ours to close.
    CloseRegisteredPort(context);
    SetPort(context, QOR_NO_PORT);
    err(kLogProgress, "QOR%s> CloseCom() exited 0", kDriverId);
    return 0;
}

int32_t ReOpenCom(DriverRequest *request) {
    DriverContext *context = request != nullptr ? request->context : nullptr;
    if (context == nullptr) {
        err(kLogFailure, "QOR%s> ReOpenCom() no context", kDriverId);
        return 2;
    }
    // An open port is not closed first: its exclusive open makes this open
    // fail, and the port stays in use.
    platform::PortHandle port = OpenCom(context->portSettings);
    if (port == 0) {
        err(kLogFailure, "QOR%s> ReOpenCom() exited 2", kDriverId);
        return 2;
    }
    SetPort(context, port);
    // Reception relies on reads that end after timeout x 10 ms, so the
    // reopened port gets its time-outs like every other open.
    ApplyTimeouts(port, context->timeout);
    err(kLogProgress, "QOR%s> ReOpenCom() exited 0", kDriverId);
    return 0;
}

int32_t ChangeQorParams(DriverRequest *request) {
    DriverContext *context = request != nullptr ? request->context : nullptr;
    const auto *params =
        request != nullptr ? static_cast<const ChangeParams *>(request->params) : nullptr;
    if (context == nullptr || params == nullptr) {
        err(kLogFailure, "QOR%s> ChangeQorParams() no context or parameters", kDriverId);
        return 2;
    }
    if (params->timeout != 0 && params->timeout != -1) {
        context->timeout = params->timeout;
    }
    PortSettings &settings = context->portSettings;
    if (std::strncmp(params->portName, settings.portName, QOR_PORT_NAME_SIZE) != 0 &&
        context->portHandle != QOR_NO_PORT) {
        CloseCom(request);
    }
    PortSettings wanted{};
    std::memcpy(wanted.portName, params->portName, QOR_PORT_NAME_SIZE);
    char name[QOR_PORT_NAME_SIZE + 1];
    TerminatedPortName(wanted, name);
    err(kLogDiagnostic, "Here in - %s ", name);
    std::memcpy(settings.portName, params->portName, QOR_PORT_NAME_SIZE);
    if (params->baudRate != 0) {
        settings.baudRate = params->baudRate;
        settings.dataBits = params->dataBits;
        settings.stopBits = params->stopBits;
        settings.parity = params->parity;
    }
    platform::PortHandle port = OpenCom(settings);
    if (port == 0) {
        err(kLogFailure, "QOR%s> ChangeQorParams() exited 2", kDriverId);
        return 2;
    }
    SetPort(context, port);
    err(kLogDiagnostic, "Hf = %X ", static_cast<unsigned>(port));
    ApplyTimeouts(port, context->timeout);
    err(kLogProgress, "QOR%s> ChangeQorParams() exited 0", kDriverId);
    return 0;
}

} // namespace qor
