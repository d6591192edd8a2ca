// The binary interface of the 32-bit driver, checked when it is compiled.
// The host lays these records out itself (fields in order, natural alignment,
// 32-bit pointers and handles), so a field that drifts by one byte would
// corrupt the host's memory without any other sign. Compiled into the 32-bit
// build only: the 64-bit build has wider pointers and reports its own size.
#include "host/records.h"
#include "platform/host_log.h"

#include <cstddef>
#include <type_traits>

#if !defined(_WIN32) || defined(_WIN64)
#error "abi_check.cpp describes the 32-bit Windows host only"
#endif

#define QORHT_FIELD_AT(type, field, offset, size)                                                  \
    static_assert(offsetof(type, field) == (offset), #type "." #field " offset");                  \
    static_assert(sizeof(type::field) == (size), #type "." #field " width")

static_assert(sizeof(void *) == 4, "pointers are 32 bits on the host");

// The entry point: one pointer argument, 32-bit result, caller-cleaned
// (__cdecl), so the export is plain QorMain rather than QorMain@4.
static_assert(std::is_same<decltype(&QorMain), int32_t(__cdecl *)(DriverRequest *)>::value,
              "QorMain is int32_t __cdecl (DriverRequest *)");
// The host runtime's log function: variable arguments, so caller-cleaned.
static_assert(std::is_same<decltype(&err), void(__cdecl *)(int, const char *, ...)>::value,
              "err is void __cdecl (int, const char *, ...)");

QORHT_FIELD_AT(DriverRequest, context, 0, 4);
QORHT_FIELD_AT(DriverRequest, command, 4, 4);
QORHT_FIELD_AT(DriverRequest, instance, 8, 4);
QORHT_FIELD_AT(DriverRequest, reserved4, 12, 4);
QORHT_FIELD_AT(DriverRequest, params, 16, 4);
static_assert(sizeof(DriverRequest) == 20, "DriverRequest size");

QORHT_FIELD_AT(DriverInfo, leadingCode, 0, 4);
QORHT_FIELD_AT(DriverInfo, driverName, 4, 4);
QORHT_FIELD_AT(DriverInfo, banner, 8, 4);
QORHT_FIELD_AT(DriverInfo, contextSize, 12, 4);
QORHT_FIELD_AT(DriverInfo, middleCode, 16, 4);
QORHT_FIELD_AT(DriverInfo, defaultBaudRate, 20, 2);
QORHT_FIELD_AT(DriverInfo, defaultDataBits, 22, 2);
QORHT_FIELD_AT(DriverInfo, defaultStopBits, 24, 2);
QORHT_FIELD_AT(DriverInfo, defaultParity, 26, 2);
QORHT_FIELD_AT(DriverInfo, trailingCode, 28, 4);
static_assert(sizeof(DriverInfo) == 32, "DriverInfo size");

QORHT_FIELD_AT(ColdStartParams, portName, 0, 12);
QORHT_FIELD_AT(ColdStartParams, openPort, 12, 4);
QORHT_FIELD_AT(ColdStartParams, timeout, 16, 4);
QORHT_FIELD_AT(ColdStartParams, baudRate, 20, 2);
QORHT_FIELD_AT(ColdStartParams, dataBits, 22, 2);
QORHT_FIELD_AT(ColdStartParams, stopBits, 24, 2);
QORHT_FIELD_AT(ColdStartParams, parity, 26, 2);
static_assert(sizeof(ColdStartParams) == 28, "ColdStartParams size");

QORHT_FIELD_AT(ChangeParams, portName, 0, 12);
QORHT_FIELD_AT(ChangeParams, timeout, 12, 4);
QORHT_FIELD_AT(ChangeParams, baudRate, 16, 2);
QORHT_FIELD_AT(ChangeParams, dataBits, 18, 2);
QORHT_FIELD_AT(ChangeParams, stopBits, 20, 2);
QORHT_FIELD_AT(ChangeParams, parity, 22, 2);
static_assert(sizeof(ChangeParams) == 24, "ChangeParams size");

QORHT_FIELD_AT(WarmStartParams, station, 0, 4);
static_assert(sizeof(WarmStartParams) == 4, "WarmStartParams size");

QORHT_FIELD_AT(GateAddress, station, 0, 4);
QORHT_FIELD_AT(GateAddress, memoryType, 4, 4);
QORHT_FIELD_AT(GateAddress, address, 8, 4);
QORHT_FIELD_AT(GateAddress, bit, 12, 4);
QORHT_FIELD_AT(GateAddress, width, 16, 4);
static_assert(sizeof(GateAddress) == 20, "GateAddress size");

QORHT_FIELD_AT(ParseRequest, addressText, 0, 4);
QORHT_FIELD_AT(ParseRequest, reserved2, 4, 4);
QORHT_FIELD_AT(ParseRequest, gateType, 8, 4);
QORHT_FIELD_AT(ParseRequest, blockSize, 12, 4);
QORHT_FIELD_AT(ParseRequest, gateAddress, 16, 20);
static_assert(sizeof(ParseRequest) == 36, "ParseRequest size");

QORHT_FIELD_AT(IoRequest, reserved1, 0, 4);
QORHT_FIELD_AT(IoRequest, reserved2, 4, 4);
QORHT_FIELD_AT(IoRequest, gateAddress, 8, 20);
QORHT_FIELD_AT(IoRequest, gateType, 28, 4);
QORHT_FIELD_AT(IoRequest, count, 32, 4);
QORHT_FIELD_AT(IoRequest, reserved6, 36, 4);
QORHT_FIELD_AT(IoRequest, data, 40, 4);
static_assert(sizeof(IoRequest) == 44, "IoRequest size");

QORHT_FIELD_AT(PortSettings, portName, 0, 12);
QORHT_FIELD_AT(PortSettings, baudRate, 12, 2);
QORHT_FIELD_AT(PortSettings, dataBits, 14, 2);
QORHT_FIELD_AT(PortSettings, stopBits, 16, 2);
QORHT_FIELD_AT(PortSettings, parity, 18, 2);
static_assert(sizeof(PortSettings) == 20, "PortSettings size");

QORHT_FIELD_AT(StationEntry, unit, 0, 1);
QORHT_FIELD_AT(StationEntry, loop, 1, 1);
QORHT_FIELD_AT(StationEntry, office, 2, 1);
QORHT_FIELD_AT(StationEntry, occupied, 3, 1);
static_assert(sizeof(StationEntry) == 4, "StationEntry size");

QORHT_FIELD_AT(DriverContext, timeout, 0, 4);
QORHT_FIELD_AT(DriverContext, portHandle, 4, 4);
QORHT_FIELD_AT(DriverContext, portSettings, 8, 20);
static_assert(offsetof(DriverContext, portSettings) + offsetof(PortSettings, portName) == 8,
              "DriverContext.portSettings.portName offset");
static_assert(offsetof(DriverContext, portSettings) + offsetof(PortSettings, baudRate) == 20,
              "DriverContext.portSettings.baudRate offset");
static_assert(offsetof(DriverContext, portSettings) + offsetof(PortSettings, parity) == 26,
              "DriverContext.portSettings.parity offset");
QORHT_FIELD_AT(DriverContext, startMark, 28, 2);
QORHT_FIELD_AT(DriverContext, txBuffer, 30, 512);
QORHT_FIELD_AT(DriverContext, rxBuffer, 542, 512);
QORHT_FIELD_AT(DriverContext, stations, 1054, 1024);
QORHT_FIELD_AT(DriverContext, interFrameGap, 2080, 4);
QORHT_FIELD_AT(DriverContext, occupationEnabled, 2084, 4);
// GetQorInfo hands sizeof(DriverContext) to the host as contextSize.
static_assert(sizeof(DriverContext) == 2088, "DriverContext is 2088 bytes, as the host allocates");

#undef QORHT_FIELD_AT
