// The POSIX serial layer and the port commands on real pseudo-terminals: the
// driver opens the slave, the test plays the far end on the master.
#include "host/driver.h"
#include "link/port_commands.h"
#include "platform/line_trace.h"
#include "platform/platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/pty.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using testing_support::ClearLog;
using testing_support::HasLog;
using testing_support::Log;
using testing_support::LogLine;
using testing_support::LogText;
using testing_support::Pty;

namespace {

using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A trace line is a time stamp in seconds with milliseconds ("  12.345"),
// then the direction and the bytes.
bool IsTraceLine(const std::string &line, const std::string &rest) {
    size_t start = line.find_first_not_of(' ');
    size_t dot = line.find('.', start);
    if (start == std::string::npos || dot == std::string::npos || dot == start ||
        line.size() < dot + 5 || line[dot + 4] != ' ') {
        return false;
    }
    for (size_t i = start; i < dot + 4; ++i) {
        if (i != dot && (line[i] < '0' || line[i] > '9')) {
            return false;
        }
    }
    return line.substr(dot + 5) == rest;
}

int Descriptor(platform::PortHandle port) {
    return static_cast<int>(port);
}

bool IsOpenDescriptor(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

std::string ReadPort(platform::PortHandle port, uint32_t count, int32_t *result = nullptr) {
    std::vector<char> buffer(count + 1);
    int32_t n = platform::ReadPort(port, buffer.data(), count);
    if (result != nullptr) {
        *result = n;
    }
    return n > 0 ? std::string(buffer.data(), static_cast<size_t>(n)) : std::string();
}

int32_t WritePort(platform::PortHandle port, const std::string &bytes) {
    return platform::WritePort(port, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// Runs `child` in a forked process and returns its exit status (or -1).
template <typename Child> int InChild(Child child) {
    pid_t pid = fork();
    if (pid == 0) {
        _exit(child());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok()) << "no pseudo-terminal";
        qor::driverEnded = 0;
        ClearLog();
    }

    void TearDown() override {
        for (DriverContext *context : {&context, &other}) {
            DriverRequest request = Request(context, QOR_CLOSE_COM);
            qor::CloseCom(&request);
        }
    }

    static DriverRequest Request(DriverContext *context, int32_t command, void *params = nullptr) {
        DriverRequest request{};
        request.context = context;
        request.command = command;
        request.params = params;
        return request;
    }

    int32_t ColdStart(DriverContext &target, const std::string &name, int32_t timeout,
                      int32_t openPort = 1) {
        ColdStartParams params{};
        std::snprintf(params.portName, sizeof params.portName, "%s", name.c_str());
        params.openPort = openPort;
        params.timeout = timeout;
        params.baudRate = 19200;
        params.dataBits = 7;
        params.stopBits = 0;
        params.parity = 2;
        DriverRequest request = Request(&target, QOR_COLD_START, &params);
        return QorMain(&request);
    }

    int32_t Command(DriverContext &target, int32_t command, void *params = nullptr) {
        DriverRequest request = Request(&target, command, params);
        return QorMain(&request);
    }

    // Bytes both ways through the port; shows that it is open and in use.
    void ExpectRoundTrip(Pty &far, platform::PortHandle port) {
        ASSERT_EQ(WritePort(port, "\x05"
                                  "01"),
                  3);
        EXPECT_EQ(far.Read(3, 2000), "\x05"
                                     "01");
        ASSERT_TRUE(far.Write("\x06"));
        EXPECT_EQ(ReadPort(port, 1), "\x06");
    }

    Pty pty;
    DriverContext context{};
    DriverContext other{};
};

TEST_F(SerialPortTest, OpensByDeviceNameAndByPath) {
    std::vector<std::string> names{pty.name()};
    if (pty.path().size() <= 11) {
        names.push_back(pty.path());
    }
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        ClearLog();
        ASSERT_EQ(ColdStart(context, name, 100), 0) << LogText();
        platform::PortHandle port = context.portHandle;
        ASSERT_GE(port, 3u);
        EXPECT_TRUE(HasLog(32, "QORHT> ColdStart() port " + name + " opened, file handle " +
                                   std::to_string(port)))
            << LogText();
        EXPECT_STREQ(context.portSettings.portName, name.c_str());
        ExpectRoundTrip(pty, port);
        EXPECT_EQ(Command(context, QOR_CLOSE_COM), 0);
        EXPECT_FALSE(IsOpenDescriptor(Descriptor(port)));
    }
}

TEST_F(SerialPortTest, SecondOpenIsRefusedAlsoFromThisProcess) {
    ASSERT_EQ(ColdStart(context, pty.name(), 100), 0) << LogText();
    ClearLog();

    EXPECT_EQ(ColdStart(other, pty.name(), 100), 1);
    const std::vector<LogLine> failure{
        {32, "QORHT> OpenCom() exited with error"},
        {32, "QORHT> ColdStart() unable to open " + pty.name() + " port"}};
    ASSERT_GE(Log().size(), 2u);
    EXPECT_EQ(std::vector<LogLine>(Log().end() - 2, Log().end()), failure) << LogText();
    EXPECT_EQ(other.portHandle, QOR_NO_PORT);

    EXPECT_EQ(platform::OpenPort(pty.path().c_str()), 0u);
    EXPECT_EQ(InChild([&] { return platform::OpenPort(pty.name().c_str()) == 0 ? 0 : 1; }), 0);
    ExpectRoundTrip(pty, context.portHandle);
}

// While the driver holds the port even a plain open(2) by another user is
// refused, and after the close it is accepted again: the exclusive mode of
// the terminal must not outlive the port.
TEST_F(SerialPortTest, ExclusiveModeEndsWithTheClose) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    }
    ASSERT_EQ(chmod(pty.path().c_str(), 0666), 0);
    auto plainOpen = [&] {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            return 2;
        }
        int fd = open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        return fd >= 0 ? 0 : 1;
    };
    ASSERT_EQ(ColdStart(context, pty.name(), 100), 0) << LogText();
    EXPECT_EQ(InChild(plainOpen), 1);
    EXPECT_EQ(Command(context, QOR_CLOSE_COM), 0);
    EXPECT_EQ(InChild(plainOpen), 0);
}

TEST_F(SerialPortTest, OnlyExistingCharacterDevicesOpen) {
    char file[] = "/tmp/qfXXXXXX"; // a path of 11 characters
    int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    const char *const names[] = {file, "ttyQOR9", "/dev/null/x", "", "pts/123456789"};
    for (const char *name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(platform::OpenPort(name), 0u);
    }
    struct stat status {};
    EXPECT_EQ(stat(file, &status), 0);
    EXPECT_EQ(status.st_size, 0);
    std::remove(file);
}

TEST_F(SerialPortTest, CloseTwiceSucceedsBothTimes) {
    ASSERT_EQ(ColdStart(context, pty.name(), 100), 0) << LogText();
    int fd = Descriptor(context.portHandle);
    ClearLog();
    EXPECT_EQ(Command(context, QOR_CLOSE_COM), 0);
    EXPECT_EQ(Command(context, QOR_CLOSE_COM), 0);
    const std::vector<LogLine> expected{{8, "QORHT> CloseCom() exited 0"},
                                        {8, "QORHT> CloseCom() exited 0"}};
    EXPECT_EQ(Log(), expected) << LogText();
    EXPECT_EQ(context.portHandle, QOR_NO_PORT);
    EXPECT_FALSE(IsOpenDescriptor(fd));
    platform::PortHandle again = platform::OpenPort(pty.name().c_str());
    EXPECT_NE(again, 0u);
    platform::ClosePort(again);
}

TEST_F(SerialPortTest, ReOpenWhileOpenFailsAndTheOpenPortStaysInUse) {
    ASSERT_EQ(ColdStart(context, pty.name(), 100), 0) << LogText();
    platform::PortHandle port = context.portHandle;
    ClearLog();
    EXPECT_EQ(Command(context, QOR_REOPEN_COM), 2);
    const std::vector<LogLine> expected{{32, "QORHT> OpenCom() exited with error"},
                                        {32, "QORHT> ReOpenCom() exited 2"}};
    EXPECT_EQ(Log(), expected) << LogText();
    EXPECT_EQ(context.portHandle, port);
    ExpectRoundTrip(pty, port);
}

TEST_F(SerialPortTest, ReOpenedPortReadsWithTheContextTimeout) {
    ASSERT_EQ(ColdStart(context, pty.name(), 30), 0) << LogText();
    ASSERT_EQ(Command(context, QOR_CLOSE_COM), 0);
    ClearLog();
    ASSERT_EQ(Command(context, QOR_REOPEN_COM), 0);
    EXPECT_EQ(Log(), std::vector<LogLine>({{8, "QORHT> ReOpenCom() exited 0"}})) << LogText();
    auto start = Clock::now();
    int32_t result = -2;
    ReadPort(context.portHandle, 4, &result);
    int64_t elapsed = MillisecondsSince(start);
    EXPECT_EQ(result, 0);
    // 300 ms, not the 1000 ms that a port without time-outs would wait.
    EXPECT_GE(elapsed, 240);
    EXPECT_LT(elapsed, 900);
}

TEST_F(SerialPortTest, ChangeOfNameMovesToTheNewDevice) {
    Pty second;
    ASSERT_TRUE(second.ok());
    ASSERT_EQ(ColdStart(context, pty.name(), 100), 0) << LogText();
    ClearLog();

    ChangeParams change{};
    std::snprintf(change.portName, sizeof change.portName, "%s", second.name().c_str());
    change.timeout = 20;
    ASSERT_EQ(Command(context, QOR_CHANGE_PARAMS, &change), 0) << LogText();
    platform::PortHandle port = context.portHandle;
    char handle[32];
    std::snprintf(handle, sizeof handle, "Hf = %X ", static_cast<unsigned>(port));
    const std::vector<LogLine> expected{{8, "QORHT> CloseCom() exited 0"},
                                        {0, "Here in - " + second.name() + " "},
                                        {0, handle},
                                        {8, "QORHT> ChangeQorParams() exited 0"}};
    EXPECT_EQ(Log(), expected) << LogText();
    EXPECT_STREQ(context.portSettings.portName, second.name().c_str());
    ExpectRoundTrip(second, port);

    // The former device was really given up.
    platform::PortHandle former = platform::OpenPort(pty.name().c_str());
    EXPECT_NE(former, 0u);
    platform::ClosePort(former);
}

class OpenPortTest : public SerialPortTest {
protected:
    void SetUp() override {
        SerialPortTest::SetUp();
        ASSERT_EQ(ColdStart(context, pty.name(), 25), 0) << LogText();
        port = context.portHandle;
    }
    platform::PortHandle port = 0;
};

TEST_F(OpenPortTest, ReadWithoutBytesEndsAfterTheTimeout) {
    auto start = Clock::now();
    int32_t result = -2;
    ReadPort(port, 5, &result);
    int64_t elapsed = MillisecondsSince(start);
    EXPECT_EQ(result, 0);
    EXPECT_GE(elapsed, 200); // timeout 25 = 250 ms
    EXPECT_LT(elapsed, 750);
}

TEST_F(OpenPortTest, ReadHandsOverWhatArrivedWhenTheTimeoutEnds) {
    ASSERT_TRUE(pty.Write("XY"));
    auto start = Clock::now();
    EXPECT_EQ(ReadPort(port, 5), "XY");
    EXPECT_GE(MillisecondsSince(start), 200);
}

TEST_F(OpenPortTest, ReadReturnsAsSoonAsAllBytesAreThere) {
    platform::SetTimeouts(port, 10000);
    ASSERT_TRUE(pty.Write("AB"));
    // The rest comes while the read waits.
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Write("CD");
    });
    auto start = Clock::now();
    std::string got = ReadPort(port, 4);
    int64_t elapsed = MillisecondsSince(start);
    late.join();
    EXPECT_EQ(got, "ABCD");
    EXPECT_LT(elapsed, 3000);
}

TEST_F(OpenPortTest, ReadAndWriteFailPromptlyWhenTheFarEndCloses) {
    platform::SetTimeouts(port, 10000);
    pty.CloseMaster();
    auto start = Clock::now();
    int32_t result = 0;
    ReadPort(port, 4, &result);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(WritePort(port, "abc"), -1);
    EXPECT_LT(MillisecondsSince(start), 2000);
}

TEST_F(OpenPortTest, ReadHandsOverWhatCameBeforeTheFarEndClosed) {
    platform::SetTimeouts(port, 10000);
    // Bytes queued on the port, as the read will find them (a pty hands them
    // over asynchronously).
    auto queued = [&] {
        int count = -1;
        return ioctl(Descriptor(port), FIONREAD, &count) == 0 ? count : -1;
    };
    auto waitUntil = [](auto condition) {
        auto deadline = Clock::now() + std::chrono::seconds(5);
        while (!condition() && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    ASSERT_TRUE(pty.Write("Z"));
    waitUntil([&] { return queued() == 1; });
    ASSERT_EQ(queued(), 1);
    // Closes the master once the read has taken the byte in: a hang-up
    // discards whatever is still queued.
    std::thread closer([&] {
        waitUntil([&] { return queued() == 0; });
        pty.CloseMaster();
    });
    auto start = Clock::now();
    int32_t result = 0;
    std::string got = ReadPort(port, 4, &result);
    int64_t elapsed = MillisecondsSince(start);
    closer.join();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(got, "Z");
    EXPECT_LT(elapsed, 5000);
}

TEST_F(OpenPortTest, WriteEndsAfterTheTimeoutWhenTheLineDoesNotTakeMore) {
    // Nobody reads the master, so the pty's buffer fills up.
    std::string block(1 << 20, 'x');
    auto start = Clock::now();
    int32_t sent = WritePort(port, block);
    int64_t elapsed = MillisecondsSince(start);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, static_cast<int32_t>(block.size()));
    EXPECT_GE(elapsed, 200); // timeout 25 = 250 ms
    EXPECT_LT(elapsed, 750);
}

// Every byte value passes unchanged both ways: no CR/LF translation, no
// XON/XOFF, no signal characters, no stripping of the eighth bit.
TEST_F(OpenPortTest, EveryByteValuePassesUnchangedBothWays) {
    platform::SetTimeouts(port, 5000);
    std::string all;
    for (int value = 0; value < 256; ++value) {
        all.push_back(static_cast<char>(value));
    }
    ASSERT_EQ(WritePort(port, all), 256);
    EXPECT_EQ(pty.Read(256, 5000), all);
    ASSERT_TRUE(pty.Write(all));
    EXPECT_EQ(ReadPort(port, 256), all);
}

TEST_F(OpenPortTest, TraceRecordsEachTransferWhenAsked) {
    char path[] = "/tmp/qorht_trace_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    setenv("QORHT_TRACE", path, 1);
    platform::ResetLineTrace();

    ASSERT_EQ(WritePort(port, "\x05"
                              "01\x1b"
                              "ok"),
              6);
    EXPECT_EQ(pty.Read(6, 2000).size(), 6u);
    ASSERT_TRUE(pty.Write("\x02"
                          "AB\r\x04\x06\x15"));
    EXPECT_EQ(ReadPort(port, 7).size(), 7u);
    int32_t result = -2;
    ReadPort(port, 1, &result); // delivers nothing: no line
    EXPECT_EQ(result, 0);

    unsetenv("QORHT_TRACE");
    platform::ResetLineTrace();
    WritePort(port, "not traced");

    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    std::remove(path);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(IsTraceLine(lines[0], "-> <ENQ>01<1B>ok")) << lines[0];
    EXPECT_TRUE(IsTraceLine(lines[1], "<- <STX>AB<CR><EOT><ACK><NAK>")) << lines[1];
}

struct LineCase {
    uint16_t baudRate, dataBits, stopBits, parity;
    speed_t speed;
    bool twoStopBits;
    tcflag_t parityBits; // PARODD and CMSPAR as expected
    bool checking;
};

// What the slave's termios shows after OpenCom. A Linux pty forces CS8 and
// clears PARENB whatever is asked, so character size and the parity enable
// cannot be observed here; the scheme bits and the checking can.
TEST_F(SerialPortTest, LineSettingsAsTheTerminalShowsThem) {
    const LineCase cases[] = {
        {9600, 7, 0, 2, B9600, false, 0, true},
        {19200, 8, 2, 1, B19200, true, PARODD, true},
        {1200, 8, 0, 3, B1200, false, PARODD | CMSPAR, true},
        {2400, 8, 0, 4, B2400, false, CMSPAR, true},
        {4800, 8, 0, 0, B4800, false, 0, false},
        {57600, 8, 0, 0x0100, B57600, false, 0, true},
    };
    for (const LineCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.baudRate << " baud, parity " << c.parity);
        PortSettings settings{};
        std::snprintf(settings.portName, sizeof settings.portName, "%s", pty.name().c_str());
        settings.baudRate = c.baudRate;
        settings.dataBits = c.dataBits;
        settings.stopBits = c.stopBits;
        settings.parity = c.parity;
        platform::PortHandle port = qor::OpenCom(settings);
        ASSERT_NE(port, 0u);
        termios line{};
        ASSERT_EQ(tcgetattr(Descriptor(port), &line), 0);
        platform::ClosePort(port);

        EXPECT_EQ(cfgetospeed(&line), c.speed);
        EXPECT_EQ(cfgetispeed(&line), c.speed);
        EXPECT_EQ((line.c_cflag & CSTOPB) != 0, c.twoStopBits);
        EXPECT_EQ(line.c_cflag & (PARODD | CMSPAR), c.parityBits);
        EXPECT_EQ((line.c_iflag & INPCK) != 0, c.checking);
        EXPECT_EQ(line.c_iflag & (PARMRK | IGNPAR | ISTRIP), 0u);
        EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY), 0u);
        EXPECT_EQ(line.c_iflag & (ICRNL | INLCR | IGNCR), 0u);
        EXPECT_EQ(line.c_oflag & OPOST, 0u);
        EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(line.c_cflag & (CRTSCTS | CLOCAL | CREAD), CRTSCTS | CLOCAL | CREAD);
        EXPECT_EQ(line.c_cc[VMIN], 1);
        EXPECT_EQ(line.c_cc[VTIME], 0);
    }
}

// Values that have no termios form are refused by the device, which keeps
// what it had, as a Win32 port does with a DCB it rejects.
TEST_F(SerialPortTest, SettingsWithoutATermiosFormLeaveTheLineAsItWas) {
    PortSettings settings{{}, 9600, 8, 2, 1};
    std::snprintf(settings.portName, sizeof settings.portName, "%s", pty.name().c_str());
    platform::PortHandle port = qor::OpenCom(settings);
    ASSERT_NE(port, 0u);
    // 14400 baud, one and a half stop bits, parity scheme 7.
    platform::ConfigureLine(port, platform::LineSettings{14400, 8, 1, 7});
    termios line{};
    ASSERT_EQ(tcgetattr(Descriptor(port), &line), 0);
    platform::ClosePort(port);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
    EXPECT_NE(line.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(line.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD));
    EXPECT_NE(line.c_iflag & INPCK, 0u); // the whole value is nonzero
}

} // namespace

// The engine sends its NAK and purges right after, before the next attempt:
// what was written must still reach the far end, while stale input is gone.
TEST_F(OpenPortTest, PurgeDiscardsInputButNotWhatWasWritten) {
    ASSERT_TRUE(pty.Write("stale"));
    ASSERT_EQ(pty.Read(0, 0), "");
    const char nak[] = "\x15"
                       "0FF\r";
    ASSERT_EQ(platform::WritePort(port, nak, 5), 5);
    // The stale bytes reach the port's input queue before the purge.
    pollfd input{static_cast<int>(port), POLLIN, 0};
    ASSERT_EQ(poll(&input, 1, 1000), 1);
    platform::Purge(port);
    EXPECT_EQ(pty.Read(5, 1000), std::string(nak, 5));
    platform::SetTimeouts(port, 50);
    EXPECT_EQ(ReadPort(port, 5), "");
}
