#include "tests/support/log_capture.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace testing_support {
namespace {
std::mutex logMutex;
}

std::vector<LogLine> &Log() {
    static std::vector<LogLine> lines;
    return lines;
}

void ClearLog() {
    std::lock_guard<std::mutex> lock(logMutex);
    Log().clear();
}

std::string LogText() {
    std::string all;
    for (const LogLine &line : Log()) {
        all += std::to_string(line.level) + ": " + line.text + "\n";
    }
    return all;
}

int CountLog(const std::string &text) {
    int n = 0;
    for (const LogLine &line : Log()) {
        n += line.text == text ? 1 : 0;
    }
    return n;
}

bool HasLog(int level, const std::string &text) {
    for (const LogLine &line : Log()) {
        if (line.level == level && line.text == text) {
            return true;
        }
    }
    return false;
}

} // namespace testing_support

extern "C" void err(int level, const char *format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(testing_support::logMutex);
    testing_support::Log().push_back({level, text});
}
