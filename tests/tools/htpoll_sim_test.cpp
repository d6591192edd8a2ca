// htpoll, the driver and htsim end to end: every htpoll run is a whole host
// session (ColdStart to EndQor) against one simulator that keeps its memory
// between runs, so a value written by one run is read back by the next.
#include "process.h"

#include <gtest/gtest.h>

#include <csignal>

#include <sstream>
#include <string>
#include <vector>

using tool_tests::BackgroundProcess;
using tool_tests::Lines;
using tool_tests::ProcessResult;
using tool_tests::RunProcess;
using tool_tests::TempDir;

namespace {

const char kIntFile[] = "* two stations, B behind an office\n"
                        "A : 01 02\n"
                        "B : 01 03 05\n"
                        "C : 02 09\n"; // no controller answers for C

std::vector<std::string> Fields(const std::string &line) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, ',')) {
        fields.push_back(field);
    }
    return fields;
}

class HtpollWithSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.Path().empty());
        dir_.Write("QORHT.INT", kIntFile);
        std::string port;
        ASSERT_TRUE(simulator_.Start(
            {HTSIM_PATH, "--station", "01:02", "--station", "01:03:05", "--stdin-eof-exits"}, 10000,
            port))
            << "htsim printed no port";
        ASSERT_EQ(port.rfind("/dev/", 0), 0u) << port;
        port_ = port;
    }

    void TearDown() override { EXPECT_EQ(simulator_.Stop(), 0) << "htsim exit status"; }

    ProcessResult Htpoll(std::vector<std::string> args) {
        args.insert(args.begin(), {HTPOLL_PATH, "-p", port_});
        return RunProcess(args, dir_.Path(), 60000);
    }

    // Reads with --format csv and returns the value column, one per element.
    std::vector<std::string> ReadBack(const std::string &gate, int count) {
        std::vector<std::string> args = {"--format", "csv"};
        if (count > 0) {
            args.insert(args.end(), {"-c", std::to_string(count)});
        }
        args.push_back(gate);
        ProcessResult result = Htpoll(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        std::vector<std::string> values;
        std::vector<std::string> lines = Lines(result.out);
        for (size_t i = 1; i < lines.size(); ++i) { // after the header
            std::vector<std::string> fields = Fields(lines[i]);
            if (fields.size() == 7 && fields[2] == "read" && fields[6] == "0") {
                values.push_back(fields[4]);
            }
        }
        return values;
    }

    TempDir dir_;
    BackgroundProcess simulator_;
    std::string port_;
};

TEST_F(HtpollWithSimulator, WriteThenReadBackAWord) {
    ProcessResult write = Htpoll({"AWR00010", "0x1234"});
    ASSERT_EQ(write.exitCode, 0) << write.err;
    EXPECT_NE(write.out.find("AWR00010"), std::string::npos) << write.out;
    EXPECT_NE(write.out.find("written"), std::string::npos) << write.out;

    ProcessResult read = Htpoll({"AWR00010"});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    std::vector<std::string> lines = Lines(read.out);
    ASSERT_EQ(lines.size(), 1u) << read.out;
    std::stringstream line(lines[0]);
    std::string gate, decimal, hex;
    line >> gate >> decimal >> hex;
    EXPECT_EQ(gate, "AWR00010");
    EXPECT_EQ(decimal, "4660");
    EXPECT_EQ(hex, "0x1234");
    EXPECT_NE(read.err.find("htpoll: 1 transactions, 0 failed"), std::string::npos) << read.err;
}

struct RoundTrip {
    const char *name;
    std::vector<std::string> writeArgs; // gate and values, -c when needed
    std::string readGate;
    int readCount; // 0: single
    std::vector<std::string> expected;
};

TEST_F(HtpollWithSimulator, ValuesWrittenAreReadBackForEveryKindOfGate) {
    const std::vector<RoundTrip> cases = {
        {"word on a station with office", {"BWR00020", "65535"}, "BWR00020", 0, {"65535"}},
        {"negative word", {"AWR00021", "-2"}, "AWR00021", 0, {"65534"}},
        {"double word", {"ALR00040", "305419896"}, "ALR00040", 0, {"305419896"}},
        {"double word, office", {"BLR00040", "0xFEDCBA98"}, "BLR00040", 0, {"4275878552"}},
        {"one bit", {"ABR00011", "1"}, "ABR00011", 0, {"1"}},
        {"ten words",
         {"AWR00100", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"},
         "AWR00100",
         10,
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}},
        {"sixteen bits",
         {"-c", "16", "ABR00200", "1", "0", "1", "1", "0", "0", "0", "1", "0", "1", "0", "0", "1",
          "1", "1", "0"},
         "ABR00200",
         16,
         {"1", "0", "1", "1", "0", "0", "0", "1", "0", "1", "0", "0", "1", "1", "1", "0"}},
        {"three double words",
         {"BLM00010", "1", "4294967295", "65536"},
         "BLM00010",
         3,
         {"1", "4294967295", "65536"}},
    };
    for (const RoundTrip &c : cases) {
        SCOPED_TRACE(c.name);
        ProcessResult write = Htpoll(c.writeArgs);
        ASSERT_EQ(write.exitCode, 0) << write.err;
        EXPECT_EQ(ReadBack(c.readGate, c.readCount), c.expected);
    }
}

TEST_F(HtpollWithSimulator, ABitInAWordShowsInTheWord) {
    ASSERT_EQ(Htpoll({"AWM00010", "0"}).exitCode, 0);
    ProcessResult set = Htpoll({"ABM00103", "1"}); // word WM 0010, bit 3
    ASSERT_EQ(set.exitCode, 0) << set.err;
    EXPECT_EQ(ReadBack("AWM00010", 0), std::vector<std::string>{"8"});
    EXPECT_EQ(ReadBack("ABM00103", 0), std::vector<std::string>{"1"});
    EXPECT_EQ(ReadBack("ABM00102", 0), std::vector<std::string>{"0"});
}

// The controller keeps a double word as two words, low half first; reading
// them as words shows whether the host cell reached the line the right way.
TEST_F(HtpollWithSimulator, ADoubleWordIsTwoWordsLowHalfFirst) {
    ASSERT_EQ(Htpoll({"ALR00040", "0x12345678"}).exitCode, 0);
    EXPECT_EQ(ReadBack("AWR00040", 2), (std::vector<std::string>{"22136", "4660"}));
    ASSERT_EQ(Htpoll({"-c", "2", "AWR00042", "0x0001", "0x8000"}).exitCode, 0);
    EXPECT_EQ(ReadBack("ALR00042", 0), std::vector<std::string>{"2147483649"});
}

TEST_F(HtpollWithSimulator, PollsExactlyNTimesAndReportsThem) {
    ASSERT_EQ(Htpoll({"AWR00030", "77"}).exitCode, 0);
    ProcessResult result = Htpoll({"-n", "3", "-r", "0", "--format", "json", "AWR00030"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 4u) << result.out;
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(lines[i].find("\"poll\":" + std::to_string(i + 1)), std::string::npos);
        EXPECT_NE(lines[i].find("\"value\":77"), std::string::npos) << lines[i];
        EXPECT_NE(lines[i].find("\"time\":\""), std::string::npos) << lines[i];
    }
    EXPECT_NE(lines[3].find("\"summary\":{\"transactions\":3,\"failures\":0"), std::string::npos)
        << lines[3];
}

// Ctrl-C while polling ends the session in order: EndQor, the summary and
// status 0.
TEST_F(HtpollWithSimulator, InterruptedPollingEndsInOrder) {
    ProcessResult result =
        RunProcess({HTPOLL_PATH, "-v", "-p", port_, "-l", "-r", "20", "AWR00010"}, dir_.Path(),
                   60000, "-- poll 3 ", SIGINT);
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("-- poll 3 "), std::string::npos) << result.out;
    EXPECT_NE(result.err.find("8: QORHT> EndQor() exited, 0"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(" failed, mean "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(", 0 failed"), std::string::npos) << result.err;
}

TEST_F(HtpollWithSimulator, WarmStartOccupiesAStationAnew) {
    ProcessResult result = Htpoll({"-v", "--warm-start", "B"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("station B occupied anew"), std::string::npos) << result.out;
    EXPECT_NE(result.err.find("8: QORHT> WarmStart() station 'B', OK"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("8: QORHT> EndQor() exited, 0"), std::string::npos) << result.err;
}

TEST_F(HtpollWithSimulator, AStationNobodyAnswersFailsWithStatusOne) {
    ProcessResult result = Htpoll({"-t", "50", "CWR00010"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_NE(result.err.find("htpoll: SingleRead of CWR00010 returned"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("1 transactions, 1 failed"), std::string::npos) << result.err;
}

// Without -p htpoll starts a simulator of its own from the INT file's
// stations, and stops it again: the simulator shares htpoll's standard error,
// so RunProcess sees that pipe close (instead of running into its deadline)
// only when the simulator has ended too.
TEST(HtpollOwnSimulator, StartsAndStopsHtsimFromTheIntFile) {
    TempDir dir;
    std::string intFile = dir.Write("plant.INT", kIntFile);
    ProcessResult result = RunProcess(
        {HTPOLL_PATH, "--int", intFile, "--format", "csv", "BWR00010", "321"}, dir.Path(), 60000);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 2u) << result.out;
    EXPECT_EQ(lines[0], "time,poll,op,gate,value,hex,result");
    std::vector<std::string> fields = Fields(lines[1]);
    ASSERT_EQ(fields.size(), 7u) << lines[1];
    EXPECT_EQ(fields[2], "write");
    EXPECT_EQ(fields[3], "BWR00010");
    EXPECT_EQ(fields[4], "321");
    EXPECT_EQ(fields[5], "0x0141");
}

} // namespace
