#include "config/int_file.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_directory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using testing_support::ClearLog;
using testing_support::Log;
using testing_support::LogLine;
using testing_support::LogText;
using testing_support::TempDirectory;

namespace {

constexpr uint8_t kNone = 0xFF;
// Neither value is one that a line can produce by accident, so an unchanged
// option shows as this value.
constexpr uint32_t kGapBefore = 10;
constexpr int32_t kOccupationBefore = 7;

LogLine Progress(const std::string &text) {
    return {8, "QORHT> " + text};
}
LogLine Failure(const std::string &text) {
    return {32, "QORHT> " + text};
}
LogLine Illegal(unsigned line, const char *file = "QORHT.INT") {
    return Failure("ReadIntFile() illegal line " + std::to_string(line) + " in '" + file + "'");
}
LogLine StarRefused(unsigned line) {
    return Failure("ReadIntFile() station '*' not allowed line " + std::to_string(line) +
                   " in 'QORHT.INT'");
}
const std::vector<LogLine> kOccupationWarning = {
    Failure("Illegal format of Int File:"),
    Failure("Check for OCCUAPTION = in your int file. Assuming 'YES'"),
};

class IntFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Whatever a fresh host allocation holds.
        std::memset(&context, 0xA5, sizeof context);
        context.interFrameGap = kGapBefore;
        context.occupationEnabled = kOccupationBefore;
        request.context = &context;
        request.command = QOR_COLD_START;
        request.instance = 3;
        ClearLog();
    }

    void Read(const std::string &bytes) {
        directory.Write("QORHT.INT", bytes);
        qor::ReadIntFile(&request);
    }

    const StationEntry &Station(unsigned char c) const { return context.stations[c]; }

    TempDirectory directory;
    DriverContext context;
    DriverRequest request{};
};

void ExpectEntry(const StationEntry &entry, uint8_t loop, uint8_t unit, uint8_t office,
                 const std::string &label) {
    EXPECT_EQ(entry.loop, loop) << label;
    EXPECT_EQ(entry.unit, unit) << label;
    EXPECT_EQ(entry.office, office) << label;
    EXPECT_EQ(entry.occupied, 0) << label;
}

TEST_F(IntFileTest, ExampleFile) {
    Read("* stations of loop 1\n"
         "OCCUPATION = NO\n"
         "IFG = 20\n"
         "A : 01 02\n"
         "b:01 03 04\n"
         "\n"
         "*: 01 05\n"
         "C = 01 05\n");
    const std::vector<LogLine> expected = {
        Progress("ReadIntFile() IFG = 20"),
        Progress("ReadIntFile() A= loop 01h, unit 02h"),
        Progress("ReadIntFile() B= loop 01h, unit 03h, office 04h"),
        StarRefused(7),
        Illegal(8),
    };
    EXPECT_EQ(Log(), expected) << LogText();
    EXPECT_EQ(context.occupationEnabled, 0);
    EXPECT_EQ(context.interFrameGap, 20u);
    ExpectEntry(Station('A'), 0x01, 0x02, kNone, "A");
    ExpectEntry(Station('B'), 0x01, 0x03, 0x04, "B");
    ExpectEntry(Station('b'), kNone, kNone, kNone, "b");
    ExpectEntry(Station('*'), kNone, kNone, kNone, "*");
    ExpectEntry(Station('C'), kNone, kNone, kNone, "C");
}

struct LineCase {
    std::string line; // written followed by LF
    std::vector<LogLine> log;
    uint32_t gap = kGapBefore;
    int32_t occupation = kOccupationBefore;
    unsigned char station = 'A';
    uint8_t loop = kNone, unit = kNone, office = kNone;
};

TEST_F(IntFileTest, SingleLines) {
    const std::vector<LineCase> cases = {
        {"IFG=5", {Progress("ReadIntFile() IFG = 5")}, 5},
        {"IFG =5", {Progress("ReadIntFile() IFG = 5")}, 5},
        {"IFG   =  \t 5", {Progress("ReadIntFile() IFG = 5")}, 5},
        {"IFG=4000000000", {Progress("ReadIntFile() IFG = 4000000000")}, 4000000000u},
        {"IFG = 15ms", {Progress("ReadIntFile() IFG = 15")}, 15},
        {"ifg = 5", {Illegal(1)}},
        {"IFG = ", {Illegal(1)}},
        {"IFG=x", {Illegal(1)}},
        {" IFG = 5", {Illegal(1)}},
        {"OCCUPATION=yes", {}, kGapBefore, 1},
        {"OCCUPATION = Yes", {}, kGapBefore, 1},
        {"OCCUPATION = no", {}, kGapBefore, 0},
        {"OCCUPATION = NONE", {}, kGapBefore, 0},
        {"OCCUPATION  =\t nO", {}, kGapBefore, 0},
        {"OCCUPATION = YEP", kOccupationWarning, kGapBefore, 1},
        {"OCCUPATION = YE", kOccupationWarning, kGapBefore, 1},
        {"OCCUPATION = N", kOccupationWarning, kGapBefore, 1},
        {"occupation = no", {Illegal(1)}},
        {"OCCUPATION = ", {Illegal(1)}},
        {"A : 123 45",
         {Progress("ReadIntFile() A= loop 12h, unit 03h, office 45h")},
         kGapBefore,
         kOccupationBefore,
         'A',
         0x12,
         0x03,
         0x45},
        {"A : 01 02 ; note",
         {Progress("ReadIntFile() A= loop 01h, unit 02h")},
         kGapBefore,
         kOccupationBefore,
         'A',
         0x01,
         0x02},
        {"A : 01 02 ab",
         {Progress("ReadIntFile() A= loop 01h, unit 02h, office ABh")},
         kGapBefore,
         kOccupationBefore,
         'A',
         0x01,
         0x02,
         0xAB},
        {"a : 01 02",
         {Progress("ReadIntFile() A= loop 01h, unit 02h")},
         kGapBefore,
         kOccupationBefore,
         'A',
         0x01,
         0x02},
        {"1 : 01 02",
         {Progress("ReadIntFile() 1= loop 01h, unit 02h")},
         kGapBefore,
         kOccupationBefore,
         '1',
         0x01,
         0x02},
        {"A : FF 01",
         {Progress("ReadIntFile() A= loop FFh, unit 01h")},
         kGapBefore,
         kOccupationBefore,
         'A',
         0xFF,
         0x01},
        {"A:0x1f 0X2",
         {Progress("ReadIntFile() A= loop 1Fh, unit 02h")},
         kGapBefore,
         kOccupationBefore,
         'A',
         0x1F,
         0x02},
        {"A : 01 02 03 04",
         {Progress("ReadIntFile() A= loop 01h, unit 02h, office 03h")},
         kGapBefore,
         kOccupationBefore,
         'A',
         0x01,
         0x02,
         0x03},
        // A character outside ASCII is a station like any other, never a
        // negative index.
        {"\xE9 : 0a 0B",
         {Progress("ReadIntFile() \xE9= loop 0Ah, unit 0Bh")},
         kGapBefore,
         kOccupationBefore,
         0xE9,
         0x0A,
         0x0B},
        {"*: 01 05", {StarRefused(1)}},
        {"* : 01 05 06", {StarRefused(1)}},
        {"* comment", {}},
        {"**", {}},
        {"C = 01 05", {Illegal(1)}},
        {" A : 01 02", {Illegal(1)}},
        {"     ", {Illegal(1)}},
        {"\t", {Illegal(1)}},
        {"A : 1", {Illegal(1)}},
        {"A :", {Illegal(1)}},
        {"A 01 02", {Illegal(1)}},
        {"A : 01 xx", {Illegal(1)}},
    };
    for (const LineCase &c : cases) {
        SetUp();
        Read(c.line + "\n");
        EXPECT_EQ(Log(), c.log) << "line '" << c.line << "':\n" << LogText();
        EXPECT_EQ(context.interFrameGap, c.gap) << c.line;
        EXPECT_EQ(context.occupationEnabled, c.occupation) << c.line;
        ExpectEntry(Station(c.station), c.loop, c.unit, c.office, c.line);
    }
}

struct FileCase {
    const char *name;
    std::string bytes;
    std::vector<LogLine> log;
    uint32_t gap = kGapBefore;
    int32_t occupation = kOccupationBefore;
    uint8_t loop = kNone, unit = kNone, office = kNone; // station A
};

TEST_F(IntFileTest, WholeFiles) {
    const std::vector<FileCase> cases = {
        {"CR LF reads as LF",
         "IFG = 7\r\nA : 01 02\r\n\r\n?\r\n",
         {Progress("ReadIntFile() IFG = 7"), Progress("ReadIntFile() A= loop 01h, unit 02h"),
          Illegal(4)},
         7,
         kOccupationBefore,
         0x01,
         0x02},
        {"a lone CR is no line end",
         "IFG = 7\rA : 01 02\n",
         {Progress("ReadIntFile() IFG = 7")},
         7},
        {"CR CR LF leaves a CR line", "\r\r\n", {Illegal(1)}},
        {"0x1A ends the file",
         "IFG = 7\n\x1A"
         "IFG = 9\n",
         {Progress("ReadIntFile() IFG = 7")},
         7},
        {"0x1A ends a line too",
         "IFG = 8\x1A"
         "9\n",
         {Progress("ReadIntFile() IFG = 8")},
         8},
        {"CR before 0x1A stays",
         "A : 01 02\r\x1A"
         "IFG = 9\n",
         {Progress("ReadIntFile() A= loop 01h, unit 02h")},
         kGapBefore,
         kOccupationBefore,
         0x01,
         0x02},
        {"no final newline",
         "A : 01 02",
         {Progress("ReadIntFile() A= loop 01h, unit 02h")},
         kGapBefore,
         kOccupationBefore,
         0x01,
         0x02},
        {"CR at the very end", "IFG = 3\r", {Progress("ReadIntFile() IFG = 3")}, 3},
        {"empty file", "", {}},
        {"NUL ends what the patterns see",
         std::string("A : 01\0 02\n", 11) + std::string("\0\n", 2) +
             std::string("IFG = 4\0 5\n", 11),
         {Illegal(1), Illegal(2), Progress("ReadIntFile() IFG = 4")},
         4},
        {"later lines win",
         "A : 01 02 03\nA : 04 05\nOCCUPATION = NO\nOCCUPATION = YES\nIFG=1\nIFG = 2\n",
         {Progress("ReadIntFile() A= loop 01h, unit 02h, office 03h"),
          Progress("ReadIntFile() A= loop 04h, unit 05h"), Progress("ReadIntFile() IFG = 1"),
          Progress("ReadIntFile() IFG = 2")},
         2,
         1,
         0x04,
         0x05,
         0x03},
        // 254 characters and the LF: one line. The CR LF pair is folded before
        // the line is cut, so it still fits.
        {"255 characters are one line",
         std::string(254, 'x') + "\r\n?\n",
         {Illegal(1), Illegal(2)}},
        // 255 characters without LF: the LF comes as a line of its own (passed
        // over), and the line after it is the third.
        {"a longer line arrives in pieces",
         std::string(255, 'x') + "\n?\n",
         {Illegal(1), Illegal(3)}},
        {"each piece is a line of its own",
         std::string(255, '*') + "IFG = 6\n",
         {Progress("ReadIntFile() IFG = 6")},
         6},
    };
    for (const FileCase &c : cases) {
        SetUp();
        Read(c.bytes);
        EXPECT_EQ(Log(), c.log) << c.name << ":\n" << LogText();
        EXPECT_EQ(context.interFrameGap, c.gap) << c.name;
        EXPECT_EQ(context.occupationEnabled, c.occupation) << c.name;
        ExpectEntry(Station('A'), c.loop, c.unit, c.office, c.name);
    }
}

TEST_F(IntFileTest, BinaryGarbageIsCutIntoCountedPieces) {
    // 5000 bytes without LF, NULs among them: 19 pieces of 255 and one of 155,
    // none of them a valid line.
    std::string garbage(5000, '\xFF');
    for (size_t i = 0; i < garbage.size(); i += 7) {
        garbage[i] = '\0';
    }
    Read(garbage);
    std::vector<LogLine> expected;
    for (unsigned line = 1; line <= 20; ++line) {
        expected.push_back(Illegal(line));
    }
    EXPECT_EQ(Log(), expected) << LogText();
}

TEST_F(IntFileTest, LineCounterWrapsAtSixteenBits) {
    std::string lines;
    for (int i = 0; i < 65537; ++i) {
        lines += "?\n";
    }
    Read(lines);
    ASSERT_EQ(Log().size(), 65537u);
    EXPECT_EQ(Log()[65534], Illegal(65535));
    EXPECT_EQ(Log()[65535], Illegal(0));
    EXPECT_EQ(Log()[65536], Illegal(1));
}

TEST_F(IntFileTest, ResetsEveryStationEvenWithoutFile) {
    for (StationEntry &entry : context.stations) {
        entry = {1, 2, 3, 1};
    }
    qor::ReadIntFile(&request);
    const std::vector<LogLine> expected = {Progress("ColdStart() Info, no initfile found")};
    EXPECT_EQ(Log(), expected) << LogText();
    for (int c = 0; c < QOR_STATION_COUNT; ++c) {
        ExpectEntry(context.stations[c], kNone, kNone, kNone, "station " + std::to_string(c));
    }
    EXPECT_EQ(context.interFrameGap, kGapBefore);
    EXPECT_EQ(context.occupationEnabled, kOccupationBefore);
}

TEST_F(IntFileTest, FileNamesByInstance) {
    struct Case {
        int32_t instance;
        std::vector<std::string> names; // in the order they are tried
    };
    const std::vector<Case> cases = {
        {3, {"QORHT03.INT", "QORHT3.INT", "QORHT.INT"}},
        {0, {"QORHT00.INT", "QORHT0.INT", "QORHT.INT"}},
        {12, {"QORHT12.INT", "QORHT.INT"}},
        {123, {"QORHT123.INT", "QORHT.INT"}},
        {-1, {"QORHT4294967295.INT", "QORHT.INT"}},
    };
    for (const Case &c : cases) {
        request.instance = c.instance;
        // Every name holds a line that names its file in the message; the
        // names are removed in turn, so each is shown to come before the next.
        for (const std::string &name : c.names) {
            directory.Write(name, "?\n");
        }
        for (const std::string &name : c.names) {
            ClearLog();
            qor::ReadIntFile(&request);
            const std::vector<LogLine> expected = {Illegal(1, name.c_str())};
            EXPECT_EQ(Log(), expected) << "instance " << c.instance << ":\n" << LogText();
            directory.Remove(name);
        }
        ClearLog();
        qor::ReadIntFile(&request);
        const std::vector<LogLine> none = {Progress("ColdStart() Info, no initfile found")};
        EXPECT_EQ(Log(), none) << "instance " << c.instance;
    }
}

TEST_F(IntFileTest, NamesAreMatchedInExactCase) {
    directory.Write("qorht.int", "IFG = 5\n");
    directory.Write("QORht03.INT", "IFG = 5\n");
    qor::ReadIntFile(&request);
    const std::vector<LogLine> none = {Progress("ColdStart() Info, no initfile found")};
    EXPECT_EQ(Log(), none) << LogText();
    EXPECT_EQ(context.interFrameGap, kGapBefore);
}

TEST_F(IntFileTest, OpenIntFileLeavesLastNameAndStaysInItsBuffer) {
    char name[32];
    EXPECT_EQ(qor::OpenIntFile("HT", name, sizeof name, 7), nullptr);
    EXPECT_STREQ(name, "QORHT.INT");

    directory.Write("QORHT07.INT", "");
    std::FILE *file = qor::OpenIntFile("HT", name, sizeof name, 7);
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_STREQ(name, "QORHT07.INT");

    // A buffer too small for the names gets truncated names, nothing past it.
    char guarded[16];
    std::memset(guarded, '#', sizeof guarded);
    file = qor::OpenIntFile("HT", guarded, 6, 4294967295u);
    if (file != nullptr) {
        std::fclose(file);
    }
    EXPECT_STREQ(guarded, "QORHT");
    EXPECT_EQ(guarded[6], '#');
}

} // namespace
