#include "config/fixed_width.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct ScanCase {
    const char *text;
    unsigned base;
    unsigned width;
    bool ok;
    uint32_t value;
    long consumed; // characters taken on success; 0 on failure
};

const std::vector<ScanCase> kScanCases = {
    // Digits, width caps and stopping at the first other character.
    {"123", 10, 5, true, 123, 3},
    {"123456", 10, 5, true, 12345, 5},
    {"1G2", 16, 3, true, 1, 1},
    {"abcDEF", 16, 5, true, 0xABCDE, 5},
    {"12a", 10, 5, true, 12, 2},
    // White space is skipped and not counted toward the width.
    {"  \t\n42x", 10, 2, true, 42, 6},
    {"\r\v\f7", 16, 1, true, 7, 4},
    // A sign counts toward the width; a minus negates modulo 2^32.
    {"+12", 10, 2, true, 1, 2},
    {"-1", 16, 2, true, 0xFFFFFFFFu, 2},
    {"-5", 10, 5, true, 4294967291u, 2},
    {"-5", 10, 1, false, 0, 0},
    // The 0x prefix is taken only in base 16, only before a hex digit, and
    // does not count toward the width.
    {"0x1F", 16, 2, true, 0x1F, 4},
    {"0X1f", 16, 2, true, 0x1F, 4},
    {"-0x10", 16, 3, true, 0xFFFFFFF0u, 5},
    {"0x123", 16, 2, true, 0x12, 4},
    {"0x", 16, 5, true, 0, 1},
    {"0xG", 16, 5, true, 0, 1},
    {"0x12", 10, 5, true, 0, 1},
    // No digit: failure.
    {"", 10, 5, false, 0, 0},
    {"   ", 16, 5, false, 0, 0},
    {"G12", 16, 5, false, 0, 0},
    {"+", 10, 5, false, 0, 0},
    {"+-1", 10, 5, false, 0, 0},
    {"- 5", 10, 5, false, 0, 0},
    {"A", 10, 5, false, 0, 0},
    {"12", 10, 0, false, 0, 0},
    // An unbounded width reads the whole run.
    {"4000000000 ", 10, UINT_MAX, true, 4000000000u, 10},
};

TEST(FixedWidthTest, ScanNumberTable) {
    for (const ScanCase &c : kScanCases) {
        const char *end = c.text + std::strlen(c.text);
        qor::ScanResult r = qor::ScanNumber(c.text, end, c.base, c.width);
        std::string label = std::string("'") + c.text + "' base " + std::to_string(c.base) +
                            " width " + std::to_string(c.width);
        EXPECT_EQ(r.ok, c.ok) << label;
        EXPECT_EQ(r.value, c.value) << label;
        EXPECT_EQ(r.next - c.text, c.consumed) << label;
    }
}

// The end pointer bounds every look, the prefix test included: the buffers
// below have no terminator, so a read past `end` is caught by the sanitizer
// build and changes the result in the plain one.
TEST(FixedWidthTest, NeverLooksPastEnd) {
    struct Case {
        std::string bytes;
        size_t usable;
        unsigned base;
        bool ok;
        uint32_t value;
        long consumed;
    };
    const std::vector<Case> cases = {
        {"123", 3, 10, true, 123, 3}, {"123", 2, 10, true, 12, 2}, {"0x1", 2, 16, true, 0, 1},
        {"  ", 2, 16, false, 0, 0},   {"-7", 1, 10, false, 0, 0},
    };
    for (const Case &c : cases) {
        std::vector<char> buffer(c.bytes.begin(), c.bytes.begin() + c.usable);
        const char *begin = buffer.data();
        qor::ScanResult r = qor::ScanNumber(begin, begin + buffer.size(), c.base, 8);
        EXPECT_EQ(r.ok, c.ok) << c.bytes << " / " << c.usable;
        EXPECT_EQ(r.value, c.value) << c.bytes << " / " << c.usable;
        EXPECT_EQ(r.next - begin, c.consumed) << c.bytes << " / " << c.usable;
    }
}

TEST(FixedWidthTest, PutHexWritesExactlyItsDigitsInUpperCase) {
    struct Case {
        uint32_t value;
        unsigned digits;
        const char *text;
    };
    const std::vector<Case> cases = {
        {0xAB, 2, "AB"}, {0x1F, 4, "001F"},           {0x12345, 2, "45"},
        {0, 1, "0"},     {0xDEADBEEF, 8, "DEADBEEF"}, {0xabcdef, 6, "ABCDEF"},
    };
    for (const Case &c : cases) {
        char out[12];
        std::memset(out, '#', sizeof out);
        qor::PutHex(out, c.value, c.digits);
        EXPECT_EQ(std::string(out, c.digits), c.text);
        EXPECT_EQ(out[c.digits], '#') << "wrote past " << c.digits << " digits";
    }
}

} // namespace
