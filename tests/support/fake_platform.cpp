#include "tests/support/fake_platform.h"

#include <cstring>

namespace testing_support {

FakeLine &Line() {
    static FakeLine line;
    return line;
}

void ResetLine() {
    Line() = FakeLine{};
}

void FakeLine::Feed(const std::string &bytes) {
    for (unsigned char c : bytes) {
        input.push_back(c);
    }
}

void FakeLine::FeedPause() {
    input.push_back(kPause);
}

std::string FakeLine::Written() const {
    std::string all;
    for (const std::string &frame : frames) {
        all += frame;
    }
    return all;
}

} // namespace testing_support

namespace platform {
using testing_support::kPause;
using testing_support::Line;

PortHandle OpenPort(const char *name) {
    auto &line = Line();
    if (line.devices.count(name) == 0) {
        return 0;
    }
    for (const auto &open : line.openPorts) {
        if (open.second == name) {
            return 0;
        }
    }
    PortHandle handle = line.nextHandle++;
    line.openPorts[handle] = name;
    return handle;
}

void SetQueues(PortHandle, uint32_t inputSize, uint32_t outputSize) {
    Line().inputQueue = inputSize;
    Line().outputQueue = outputSize;
}

void ConfigureLine(PortHandle, const LineSettings &settings) {
    Line().settings = settings;
}

void SetTimeouts(PortHandle, uint32_t milliseconds) {
    Line().timeoutMs = milliseconds;
}

void Purge(PortHandle) {
    Line().purges++;
    Line().input.clear();
}

void ClosePort(PortHandle port) {
    Line().openPorts.erase(port);
}

int32_t WritePort(PortHandle port, const void *data, uint32_t count) {
    auto &line = Line();
    if (line.openPorts.count(port) == 0) {
        return -1;
    }
    std::string frame(static_cast<const char *>(data), count);
    line.frames.push_back(frame);
    if (line.failWrite && line.failWrite(frame)) {
        return -1;
    }
    if (line.onWrite) {
        line.onWrite(line, frame);
    }
    return static_cast<int32_t>(count);
}

int32_t ReadPort(PortHandle port, void *data, uint32_t count) {
    auto &line = Line();
    if (line.openPorts.count(port) == 0) {
        return -1;
    }
    line.reads++;
    auto *out = static_cast<unsigned char *>(data);
    uint32_t got = 0;
    while (got < count && !line.input.empty()) {
        int next = line.input.front();
        line.input.pop_front();
        if (next == kPause) {
            break;
        }
        out[got++] = static_cast<unsigned char>(next);
    }
    if (got < count) {
        line.nowMs += line.timeoutMs;
    }
    return static_cast<int32_t>(got);
}

void SleepMilliseconds(uint32_t milliseconds) {
    Line().sleeps.push_back(milliseconds);
    Line().nowMs += milliseconds;
}

int64_t CalendarSeconds() {
    return Line().nowMs / 1000;
}

} // namespace platform
