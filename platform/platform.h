// What the driver needs of the operating system: the eight serial port
// operations, a millisecond sleep and the calendar clock in whole seconds.
// Each platform supplies them in one file (posix.cpp, win32.cpp); tests link
// a scripted port and a fake clock in their place.
#pragma once

#include <cstdint>

namespace platform {

using PortHandle = uintptr_t; // 0 means no port

struct LineSettings {
    uint16_t baudRate;
    uint16_t dataBits;
    uint16_t stopBits;
    uint16_t parity;
};

constexpr uint32_t kQueueSize = 4096;

// Opens the device for exclusive use (read and write, existing devices only).
// Returns 0 when it cannot be opened. `name` is NUL-terminated.
PortHandle OpenPort(const char *name);
// Queue sizes; a device that refuses them keeps its own.
void SetQueues(PortHandle port, uint32_t inputSize, uint32_t outputSize);
// Reads the line configuration, applies the driver's settings and writes it
// back; a setting the device refuses is left as the device has it.
void ConfigureLine(PortHandle port, const LineSettings &settings);
// Read and write total time-outs, both `milliseconds` (already bounded).
void SetTimeouts(PortHandle port, uint32_t milliseconds);
// Aborts pending transfers and discards both queues.
void Purge(PortHandle port);
void ClosePort(PortHandle port);
// Writes up to `count` bytes within the write time-out; returns the number
// written, or -1 when the write failed.
int32_t WritePort(PortHandle port, const void *data, uint32_t count);
// Reads up to `count` bytes, returning as soon as all arrived or when the read
// time-out has run out; returns the number read, or -1 when the read failed.
int32_t ReadPort(PortHandle port, void *data, uint32_t count);

void SleepMilliseconds(uint32_t milliseconds);
// The calendar clock in whole seconds.
int64_t CalendarSeconds();

} // namespace platform
