// htsim as a process: its command line, its exits and its line timing.
#include "tests/integration/sim_process.h"
#include "tests/support/temp_directory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace integration {
namespace {

class HtsimProcess : public ::testing::Test {
protected:
    testing_support::TempDirectory dir_;
    std::string errors_ = (std::filesystem::current_path() / "stderr.txt").string();
};

TEST_F(HtsimProcess, BadUsageExitsWithTwoAndOneLine) {
    const std::vector<std::vector<std::string>> cases = {
        {"--station", "01:02", "--bogus"},
        {"--station", "01:02", "--baud", "fast"},
        {"--station", "01:02", "--drop"},
        {"--station", "01:02", "--corrupt", "2"},
        {"--station", "1:2"},
        {},
    };
    for (const auto &arguments : cases) {
        SimProcess sim;
        ASSERT_TRUE(sim.Start(arguments, errors_, false));
        const int status = sim.Wait(std::chrono::seconds(5));
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 2);
        const std::string message = ReadFile(errors_);
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
        EXPECT_EQ(message.rfind("htsim: ", 0), 0u) << message;
    }
}

TEST_F(HtsimProcess, HelpGoesToStandardOutputAndSucceeds) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--help"}, errors_, false));
    const int status = sim.Wait(std::chrono::seconds(5));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(errors_), "");
}

TEST_F(HtsimProcess, StopsCleanlyAndSavesTheImage) {
    struct Case {
        const char *how;
        int signal; // 0: end of standard input
    };
    for (const Case &c : {Case{"SIGTERM", SIGTERM}, Case{"SIGINT", SIGINT}, Case{"EOF", 0}}) {
        const std::string image = (std::filesystem::current_path() / "plc.img").string();
        dir_.Write("plc.img", "station 01:03:05\nWR 0010 1234\n");
        SimProcess sim;
        ASSERT_TRUE(sim.Start(
            {"--station", "01:02", "--station", "01:03:05", "--image", image, "--stdin-eof-exits"},
            errors_));
        EXPECT_EQ(sim.SlavePath().rfind("/dev/pts/", 0), 0u) << sim.SlavePath();
        int status;
        if (c.signal != 0) {
            status = sim.Stop(c.signal);
        } else {
            sim.CloseInput();
            status = sim.Wait(std::chrono::seconds(5));
        }
        ASSERT_TRUE(WIFEXITED(status)) << c.how;
        EXPECT_EQ(WEXITSTATUS(status), 0) << c.how;
        EXPECT_EQ(ReadFile(image), "# htsim memory image: area, hex address, hex value\n"
                                   "station 01:02\nstation 01:03:05\nWR 0010 1234\n")
            << c.how;
    }
}

TEST_F(HtsimProcess, BrokenImageIsRefusedAtStart) {
    dir_.Write("plc.img", "WR 0010\n");
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--station", "01:02", "--image", "plc.img"}, errors_, false));
    const int status = sim.Wait(std::chrono::seconds(5));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(ReadFile(errors_).find("line 1"), std::string::npos);
}

// A raw end of the pseudo-terminal, as a host would open it.
int OpenRaw(const std::string &path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

// Reads until `count` bytes arrived or the deadline passed.
std::string ReadBytes(int fd, size_t count, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    std::string out;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        pollfd entry{fd, POLLIN, 0};
        if (left <= 0 || poll(&entry, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        char buffer[64];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - out.size()));
        if (n <= 0) {
            break;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

// At 1200 baud with 7E1 a character takes 8.33 ms: the 17 characters of a
// telegram and the two of the ACK cannot be through in less than 158 ms.
// Only this lower bound is asserted; it holds however loaded the machine is.
TEST_F(HtsimProcess, PacedLineTakesTheLineTimeOfEveryCharacter) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--station", "01:02", "--baud", "1200"}, errors_));
    const int fd = OpenRaw(sim.SlavePath());
    ASSERT_GE(fd, 0);
    const std::string telegram = "\x02"
                                 "0010200001701"
                                 "7C\r";
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(write(fd, telegram.data(), telegram.size()), static_cast<ssize_t>(telegram.size()));
    EXPECT_EQ(ReadBytes(fd, 2, std::chrono::seconds(5)), "\x06\r");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(158));
    close(fd);
}

// Closing the host's end must not hang up the line: htsim keeps serving
// the next open.
TEST_F(HtsimProcess, ServesTheLineAcrossCloseAndReopen) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--station", "01:02"}, errors_));
    const std::string telegram = "\x02"
                                 "0010200001701"
                                 "7C\r";
    for (int round = 0; round < 3; ++round) {
        const int fd = OpenRaw(sim.SlavePath());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, telegram.data(), telegram.size()),
                  static_cast<ssize_t>(telegram.size()));
        EXPECT_EQ(ReadBytes(fd, 2, std::chrono::seconds(5)), "\x06\r") << round;
        ASSERT_EQ(write(fd,
                        "\x05"
                        "01\r",
                        4),
                  4);
        EXPECT_EQ(ReadBytes(fd, 16, std::chrono::seconds(5)), "\x02"
                                                              "0010200000174B\r");
        close(fd);
    }
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

// With --device htsim serves a line it is given; here the far end of a
// pseudo-terminal that the test holds, as a serial cable's other end.
TEST_F(HtsimProcess, ServesADeviceGivenByPath) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    char name[128];
    ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--station", "01:03:05", "--device", name}, errors_));
    EXPECT_EQ(sim.SlavePath(), name);
    const std::string telegram = "\x02"
                                 "005010300001701"
                                 "E2\r";
    ASSERT_EQ(write(master, telegram.data(), telegram.size()),
              static_cast<ssize_t>(telegram.size()));
    EXPECT_EQ(ReadBytes(master, 4, std::chrono::seconds(5)), "\x06"
                                                             "05\r");
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
    close(master);
}

} // namespace
} // namespace integration
