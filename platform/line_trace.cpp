// The line trace, shared by every platform's serial layer: plain C stdio and
// C++ atomics only, so that it builds wherever the driver does (the MinGW
// "win32" thread model has no std::mutex).
//
// Each traced call becomes one line, written with a single fwrite on an
// unbuffered stream: stdio locks the stream per call and the file is opened
// for appending, so lines of concurrent instances never interleave. Only a
// call longer than the line buffer is continued on further lines.
#include "platform/line_trace.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

enum TraceState { kUnknown, kOff, kOn };

std::atomic<int> traceState{kUnknown};
std::atomic_flag setupLock = ATOMIC_FLAG_INIT;
std::FILE *traceFile = nullptr;
std::chrono::steady_clock::time_point traceStart;

// Looks at QORHT_TRACE once. The lock is held only while the file is opened,
// so the spin is confined to the first trace of a process.
std::FILE *TraceFile() {
    int state = traceState.load(std::memory_order_acquire);
    if (state == kUnknown) {
        while (setupLock.test_and_set(std::memory_order_acquire)) {
        }
        if (traceState.load(std::memory_order_relaxed) == kUnknown) {
            const char *path = std::getenv("QORHT_TRACE");
            traceFile = path != nullptr && path[0] != '\0' ? std::fopen(path, "a") : nullptr;
            if (traceFile != nullptr) {
                std::setvbuf(traceFile, nullptr, _IONBF, 0);
            }
            traceStart = std::chrono::steady_clock::now();
            traceState.store(traceFile != nullptr ? kOn : kOff, std::memory_order_release);
        }
        setupLock.clear(std::memory_order_release);
        state = traceState.load(std::memory_order_acquire);
    }
    return state == kOn ? traceFile : nullptr;
}

const char *ControlName(unsigned char byte) {
    switch (byte) {
    case 0x02:
        return "<STX>";
    case 0x04:
        return "<EOT>";
    case 0x05:
        return "<ENQ>";
    case 0x06:
        return "<ACK>";
    case 0x15:
        return "<NAK>";
    case 0x0D:
        return "<CR>";
    default:
        return nullptr;
    }
}

// Room for a full 512-byte telegram of named control characters on one line.
constexpr size_t kLineSize = 4096;
// The longest piece one byte can add ("<STX>"), plus the newline.
constexpr size_t kLongestPiece = 5;

} // namespace

void TraceBytes(TraceDirection direction, const void *data, size_t count) {
    std::FILE *file = TraceFile();
    if (file == nullptr) {
        return;
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - traceStart)
                       .count();
    char line[kLineSize];
    int prefix = std::snprintf(
        line, sizeof line, "%6lld.%03lld %s ", static_cast<long long>(elapsed / 1000),
        static_cast<long long>(elapsed % 1000), direction == TraceDirection::Out ? "->" : "<-");
    if (prefix < 0 || static_cast<size_t>(prefix) >= sizeof line - kLongestPiece - 1) {
        return;
    }
    const auto *bytes = static_cast<const unsigned char *>(data);
    size_t used = static_cast<size_t>(prefix);
    for (size_t i = 0; i < count && bytes != nullptr; ++i) {
        if (used + kLongestPiece + 1 > sizeof line) {
            line[used++] = '\n';
            std::fwrite(line, 1, used, file);
            used = static_cast<size_t>(prefix); // continue under the same stamp
        }
        unsigned char byte = bytes[i];
        if (const char *name = ControlName(byte)) {
            for (; *name != '\0'; ++name) {
                line[used++] = *name;
            }
        } else if (byte >= 0x20 && byte < 0x7F) {
            line[used++] = static_cast<char>(byte);
        } else {
            used +=
                static_cast<size_t>(std::snprintf(line + used, sizeof line - used, "<%02X>", byte));
        }
    }
    line[used++] = '\n';
    std::fwrite(line, 1, used, file);
}

void ResetLineTrace() {
    while (setupLock.test_and_set(std::memory_order_acquire)) {
    }
    if (traceFile != nullptr) {
        std::fclose(traceFile);
        traceFile = nullptr;
    }
    traceState.store(kUnknown, std::memory_order_release);
    setupLock.clear(std::memory_order_release);
}

} // namespace platform
