// The platform operations on the Win32 serial port interface. This is the
// only file of the driver that sees windows.h: everything else works with the
// opaque PortHandle (0 = no port) of platform.h.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/line_trace.h"
#include "platform/platform.h"

#include <climits>
#include <cstddef>
#include <ctime>

namespace platform {
namespace {

// All four purge actions: abort pending writes and reads, discard both queues.
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
static_assert(kPurgeAll == 0x0F, "the purge mask the controller exchange relies on");

// Time-out of a port between its open and the driver's time-out step.
constexpr uint32_t kOpenTimeoutMs = 1000;

constexpr WORD kXonLimit = 3000;
constexpr WORD kXoffLimit = 2000;

// A PortHandle holds the HANDLE's bits unchanged; INVALID_HANDLE_VALUE is
// never stored, so 0 stays free to mean "no port".
static_assert(sizeof(PortHandle) >= sizeof(HANDLE), "a port handle must hold a HANDLE");

HANDLE ToHandle(PortHandle port) {
    return reinterpret_cast<HANDLE>(port);
}

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsLetter(char c, char upper) {
    return c == upper || c == upper - 'A' + 'a';
}

// "COM" in any letter case followed by one or more digits and nothing else.
bool IsBareComName(const char *name) {
    if (!IsLetter(name[0], 'C') || !IsLetter(name[1], 'O') || !IsLetter(name[2], 'M')) {
        return false;
    }
    const char *digits = name + 3;
    if (!IsAsciiDigit(*digits)) {
        return false;
    }
    while (IsAsciiDigit(*digits)) {
        ++digits;
    }
    return *digits == '\0';
}

// Windows knows the bare names COM1 to COM9 only; COM10 and above exist only
// in the device namespace as \\.\COM10. The device-namespace form serves
// COM1 to COM9 as well, so every bare COM name goes through it. Any other name
// (already \\.\..., a file, another device) is opened as given. The caller's
// name is not changed: the context keeps it as the host wrote it. A name too
// long for the path is refused rather than cut, which could name another
// device (the host's names have at most 11 characters anyway).
bool DevicePath(const char *name, char (&path)[32]) {
    size_t at = 0;
    if (IsBareComName(name)) {
        for (const char *prefix = "\\\\.\\"; *prefix != '\0'; ++prefix) {
            path[at++] = *prefix;
        }
    }
    for (; *name != '\0'; ++name) {
        if (at + 1 >= sizeof path) {
            return false;
        }
        path[at++] = *name;
    }
    path[at] = '\0';
    return true;
}

// ReadFile and WriteFile count in DWORD, the platform interface in int32_t;
// no telegram comes near the limit, but a count above it must not wrap.
DWORD TransferSize(uint32_t count) {
    return count > static_cast<uint32_t>(INT32_MAX) ? static_cast<DWORD>(INT32_MAX)
                                                    : static_cast<DWORD>(count);
}

} // namespace

PortHandle OpenPort(const char *name) {
    if (name == nullptr) {
        return 0;
    }
    char path[32];
    if (!DevicePath(name, path)) {
        return 0;
    }
    // Share mode 0: the port is ours alone while open, so a second open of
    // the same device (another instance, or ReOpenCom on an open port) fails.
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        return 0;
    }
    PortHandle port = reinterpret_cast<PortHandle>(handle);
    // A fresh handle may carry all-zero time-outs, with which a read waits
    // for ever. Until the time-out step sets the reply time-out, reads and
    // writes end after the same 1000 ms the POSIX layer starts a port with.
    SetTimeouts(port, kOpenTimeoutMs);
    return port;
}

void SetQueues(PortHandle port, uint32_t inputSize, uint32_t outputSize) {
    SetupComm(ToHandle(port), inputSize, outputSize);
}

void ConfigureLine(PortHandle port, const LineSettings &settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    // Start from what the device has: DCBlength, wReserved1 and the flag
    // word's upper bits (fDummy2) are left exactly as read.
    GetCommState(ToHandle(port), &dcb);

    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits & 0xFF);
    dcb.Parity = static_cast<BYTE>(settings.parity & 0xFF);
    dcb.StopBits = static_cast<BYTE>(settings.stopBits & 0xFF);
    dcb.fBinary = 1;
    // Checking follows the whole 16-bit parity value: 0x0100 checks with the
    // "none" scheme of its low byte.
    dcb.fParity = settings.parity != 0 ? 1 : 0;
    // The controllers' line: transmission held while CTS is off, DTR and RTS
    // raised while the port is open, no software flow control, every byte
    // delivered as received.
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
    dcb.wReserved = 0;
    dcb.XonLim = kXonLimit;
    dcb.XoffLim = kXoffLimit;
    dcb.XonChar = 0;
    dcb.XoffChar = 0;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;

    // A device that refuses part of this keeps what it accepted; the driver
    // goes on with the open port either way.
    SetCommState(ToHandle(port), &dcb);
}

void SetTimeouts(PortHandle port, uint32_t milliseconds) {
    // Total time-outs only: a read returns when all bytes asked for have
    // arrived or after `milliseconds` with what came so far, however the
    // bytes are spaced. The caller has bounded the value (never 0, never
    // above 2^31-1), so no MAXDWORD special meaning can be hit.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = milliseconds;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = milliseconds;
    SetCommTimeouts(ToHandle(port), &timeouts);
}

void Purge(PortHandle port) {
    PurgeComm(ToHandle(port), kPurgeAll);
}

void ClosePort(PortHandle port) {
    if (port != 0) {
        CloseHandle(ToHandle(port));
    }
}

int32_t WritePort(PortHandle port, const void *data, uint32_t count) {
    // A write that runs into the write time-out succeeds with fewer bytes;
    // a failed one may still have sent some, and those count as sent.
    DWORD written = 0;
    BOOL ok = WriteFile(ToHandle(port), data, TransferSize(count), &written, nullptr);
    TraceBytes(TraceDirection::Out, data, written);
    if (!ok && written == 0) {
        return -1;
    }
    return static_cast<int32_t>(written);
}

int32_t ReadPort(PortHandle port, void *data, uint32_t count) {
    // The read time-out is not an error: ReadFile succeeds with the bytes
    // that came in time, possibly none. Bytes that did arrive are handed
    // over even when the read then failed.
    DWORD got = 0;
    BOOL ok = ReadFile(ToHandle(port), data, TransferSize(count), &got, nullptr);
    if (got > 0) {
        TraceBytes(TraceDirection::In, data, got);
        return static_cast<int32_t>(got);
    }
    return ok ? 0 : -1;
}

void SleepMilliseconds(uint32_t milliseconds) {
    Sleep(milliseconds);
}

int64_t CalendarSeconds() {
    return static_cast<int64_t>(std::time(nullptr));
}

} // namespace platform
