// Captures what the driver logs through err(), for assertions in tests.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct LogLine {
    int level;
    std::string text;
    bool operator==(const LogLine &other) const {
        return level == other.level && text == other.text;
    }
};

std::vector<LogLine> &Log();
void ClearLog();
// All captured lines as "level: text\n", for readable failure output.
std::string LogText();
// Number of captured lines whose text equals `text`.
int CountLog(const std::string &text);
// True when a line with this level and text was captured.
bool HasLog(int level, const std::string &text);

} // namespace testing_support
