/*
 * Records exchanged between the host runtime and the H-series driver.
 *
 * Plain C structs in natural alignment, fields in the order the host lays
 * them out. With 32-bit pointers and handles a DriverContext is 2088 bytes;
 * other builds report sizeof(DriverContext) through GetQorInfo.
 *
 * This header is valid C and C++: a host written in C includes it as it is.
 */
#ifndef QORHT_HOST_RECORDS_H
#define QORHT_HOST_RECORDS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Command codes of QorMain. */
enum {
    QOR_COLD_START = 1,
    QOR_WARM_START = 2,
    QOR_SINGLE_ADDRESS_PARSER = 3,
    QOR_BLOCK_ADDRESS_PARSER = 4,
    QOR_SINGLE_READ = 5,
    QOR_BLOCK_READ = 6,
    QOR_SINGLE_WRITE = 7,
    QOR_BLOCK_WRITE = 10,
    QOR_END = 11,
    QOR_CLOSE_COM = 12,
    QOR_REOPEN_COM = 13,
    QOR_GET_INFO = 14,
    QOR_CHANGE_PARAMS = 15
};

/* Host data type codes (gateType). */
enum {
    QOR_GATE_ANALOG16_0 = 0,
    QOR_GATE_ANALOG16_1 = 1,
    QOR_GATE_ANALOG16_2 = 2,
    QOR_GATE_ANALOG32_4 = 4,
    QOR_GATE_ANALOG32_5 = 5,
    QOR_GATE_DIGITAL = 6
};

/* Occupation task codes carried in GateAddress.memoryType. */
enum { QOR_READ_OCCUPATION = 250, QOR_RELEASE_OCCUPATION = 251, QOR_FORCED_RELEASE = 252 };

#define QOR_PORT_NAME_SIZE 12
#define QOR_BUFFER_SIZE 512
#define QOR_STATION_COUNT 256
#define QOR_NO_PORT ((uintptr_t)0)

struct DriverContext;

typedef struct DriverRequest {
    struct DriverContext *context;
    int32_t command;
    int32_t instance;
    uint32_t reserved4;
    void *params;
} DriverRequest;

typedef struct DriverInfo {
    int32_t leadingCode;
    const char *driverName;
    const char *banner;
    int32_t contextSize;
    int32_t middleCode;
    uint16_t defaultBaudRate;
    uint16_t defaultDataBits;
    uint16_t defaultStopBits;
    uint16_t defaultParity;
    int32_t trailingCode;
} DriverInfo;

typedef struct ColdStartParams {
    char portName[QOR_PORT_NAME_SIZE];
    int32_t openPort;
    int32_t timeout;
    uint16_t baudRate;
    uint16_t dataBits;
    uint16_t stopBits;
    uint16_t parity;
} ColdStartParams;

typedef struct ChangeParams {
    char portName[QOR_PORT_NAME_SIZE];
    int32_t timeout;
    uint16_t baudRate;
    uint16_t dataBits;
    uint16_t stopBits;
    uint16_t parity;
} ChangeParams;

typedef struct WarmStartParams {
    int32_t station;
} WarmStartParams;

typedef struct GateAddress {
    int32_t station;
    int32_t memoryType;
    int32_t address;
    int32_t bit;
    int32_t width;
} GateAddress;

typedef struct ParseRequest {
    const char *addressText;
    uint32_t reserved2;
    int32_t gateType;
    int32_t blockSize;
    GateAddress gateAddress;
} ParseRequest;

typedef struct IoRequest {
    uint32_t reserved1;
    uint32_t reserved2;
    GateAddress gateAddress;
    int32_t gateType;
    int32_t count;
    uint32_t reserved6;
    void *data;
} IoRequest;

typedef struct PortSettings {
    char portName[QOR_PORT_NAME_SIZE];
    uint16_t baudRate;
    uint16_t dataBits;
    uint16_t stopBits;
    uint16_t parity;
} PortSettings;

typedef struct StationEntry {
    uint8_t unit;
    uint8_t loop;
    uint8_t office;
    uint8_t occupied;
} StationEntry;

typedef struct DriverContext {
    int32_t timeout;
    uintptr_t portHandle;
    PortSettings portSettings;
    uint16_t startMark;
    char txBuffer[QOR_BUFFER_SIZE];
    char rxBuffer[QOR_BUFFER_SIZE];
    StationEntry stations[QOR_STATION_COUNT];
    uint32_t interFrameGap;
    int32_t occupationEnabled;
} DriverContext;

/* The one exported entry point. __cdecl on Win32, the C default. */
#if !defined(QORHT_BUILDING_DRIVER)
#define QOR_EXPORT
#elif defined(_WIN32)
#define QOR_EXPORT __declspec(dllexport)
#else
#define QOR_EXPORT __attribute__((visibility("default")))
#endif

QOR_EXPORT int32_t QorMain(DriverRequest *request);

#ifdef __cplusplus
}
#endif

#endif
