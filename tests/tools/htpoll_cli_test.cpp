// htpoll as a process, without any controller: exit statuses, the one line
// it writes for each failure, --help, and the host's side of the driver's log
// (err bound in the executable, filtered by level).
#include "process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tool_tests::Lines;
using tool_tests::ProcessResult;
using tool_tests::RunProcess;
using tool_tests::TempDir;

namespace {

ProcessResult Htpoll(std::vector<std::string> args, const std::string &cwd) {
    args.insert(args.begin(), HTPOLL_PATH);
    return RunProcess(args, cwd);
}

struct Refusal {
    std::vector<std::string> args;
    int exitCode;
    std::string message;
};

TEST(HtpollCli, EveryFailureIsOneLineAndAnExitStatus) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    std::string empty = dir.Write("empty.INT", "* no stations\nIFG = 5\n");
    const std::vector<Refusal> cases = {
        {{}, 2, "htpoll: no GATE given"},
        {{"--bogus", "AWR00010"}, 2, "htpoll: unknown option --bogus"},
        {{"-q", "AWR00010"}, 2, "htpoll: unknown option -q"},
        {{"-b", "115200", "AWR00010"}, 2, "does not fit the driver's 16-bit line setting"},
        {{"-p", "/dev/ttyUSB0123456", "AWR00010"}, 2, "does not fit the driver's 11 characters"},
        {{"-s", "0", "AWR00010"}, 2, "option -s takes 1, 1.5 or 2"},
        {{"AWR00010", "70000"}, 2, "a word takes -32768 to 65535"},
        {{"-c", "2", "AWR00010", "1"}, 2, "-c 2 but 1 value given"},
        {{"--int", dir.Path() + "/missing.INT", "AWR00010"}, 2, "cannot read INT file"},
        {{"--int", empty, "AWR00010"}, 2, "defines no station for the simulator"},
        // No -p and no INT file in the working directory (the temp dir).
        {{"AWR00010"}, 2, "no INT file (QORHT00.INT, QORHT0.INT, QORHT.INT)"},
        {{"-i", "7", "AWR00010"}, 2, "(QORHT07.INT, QORHT7.INT, QORHT.INT)"},
        {{"--lib", dir.Path() + "/libnothing.so", "-p", "ttyS0", "AWR00010"}, 1, "cannot load"},
        // The driver gets the name without /dev/ and cannot open it.
        {{"-p", "/dev/ttyQQ9", "AWR00010"}, 1, "ColdStart returned 1: port 'ttyQQ9'"},
        {{"-p", "/tmp/qqnone", "AWR00010"}, 1, "ColdStart returned 1: port '/tmp/qqnone'"},
    };
    for (const Refusal &c : cases) {
        std::string joined;
        for (const std::string &word : c.args) {
            joined += word + " ";
        }
        SCOPED_TRACE(joined);
        ProcessResult result = Htpoll(c.args, dir.Path());
        ASSERT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_TRUE(result.out.empty()) << result.out;
        // Exactly one line of htpoll's own; the driver's level-32 lines may
        // precede it.
        int own = 0;
        for (const std::string &line : Lines(result.err)) {
            own += line.rfind("htpoll: ", 0) == 0 ? 1 : 0;
        }
        EXPECT_EQ(own, 1) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
}

TEST(HtpollCli, HelpListsEveryOptionWithExamples) {
    TempDir dir;
    ProcessResult result = Htpoll({"--help"}, dir.Path());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.err.empty());
    for (const char *text :
         {"-p PORT", "-b BAUD", "-d BITS", "-s STOP", "-P PARITY", "-t MS", "-i INSTANCE",
          "-c COUNT", "-T TYPE", "-r MS", "-n N", "--int FILE", "--format", "--warm-start",
          "--lib PATH", "-v", "Examples:", "htpoll -p /dev/ttyUSB0 AWR00010"}) {
        EXPECT_NE(result.out.find(text), std::string::npos) << text;
    }
}

// The driver logs through the err that htpoll exports: level 32 always, level
// 8 only with -v. The stand-in library would print every level.
TEST(HtpollCli, DriverLogGoesThroughTheHostsErrFilteredByLevel) {
    TempDir dir;
    const std::string failure = "32: QORHT> ColdStart() unable to open ttyQQ9 port";
    const std::string progress = "8: QORHT> GetQorInfo() exited";

    ProcessResult quiet = Htpoll({"-p", "ttyQQ9", "AWR00010"}, dir.Path());
    EXPECT_EQ(quiet.exitCode, 1);
    EXPECT_NE(quiet.err.find(failure), std::string::npos) << quiet.err;
    EXPECT_EQ(quiet.err.find(progress), std::string::npos) << quiet.err;

    ProcessResult verbose = Htpoll({"-v", "-p", "ttyQQ9", "AWR00010"}, dir.Path());
    EXPECT_EQ(verbose.exitCode, 1);
    EXPECT_NE(verbose.err.find(failure), std::string::npos) << verbose.err;
    EXPECT_NE(verbose.err.find(progress), std::string::npos) << verbose.err;
    EXPECT_NE(verbose.err.find("8: QORHT> ColdStart() Info, no initfile found"), std::string::npos)
        << verbose.err;
}

} // namespace
