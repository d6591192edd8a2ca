// OpenCom, the time-out step and the port commands CloseCom, ReOpenCom and
// ChangeQorParams against the scripted port: messages, levels, order, results
// and what reaches the port.
#include "host/driver.h"
#include "link/port_commands.h"
#include "link/port_registry.h"
#include "tests/support/fake_platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

using testing_support::ClearLog;
using testing_support::Line;
using testing_support::Log;
using testing_support::LogLine;
using testing_support::LogText;
using testing_support::ResetLine;
using testing_support::TempDirectory;

namespace {

const LogLine kOpenFailed = {32, "QORHT> OpenCom() exited with error"};
const LogLine kClosed = {8, "QORHT> CloseCom() exited 0"};
const LogLine kChanged = {8, "QORHT> ChangeQorParams() exited 0"};
const LogLine kChangeFailed = {32, "QORHT> ChangeQorParams() exited 2"};

LogLine HereIn(const std::string &name) {
    return {0, "Here in - " + name + " "};
}

bool SameLine(const platform::LineSettings &a, const platform::LineSettings &b) {
    return a.baudRate == b.baudRate && a.dataBits == b.dataBits && a.stopBits == b.stopBits &&
           a.parity == b.parity;
}

class PortCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        qor::driverEnded = 0;
        ResetLine();
        Line().devices.insert("com1");
        ClearLog();
        context = DriverContext{};
        std::strcpy(context.portSettings.portName, "COM1");
        context.timeout = 50;
        context.portSettings.baudRate = 9600;
        context.portSettings.dataBits = 8;
        context.portSettings.stopBits = 0;
        context.portSettings.parity = 0;
    }
    void TearDown() override {
        // Leaves no port of this context recorded for the next test.
        qor::CloseRegisteredPort(&context);
        qor::CloseRegisteredPort(&other);
    }

    DriverRequest Request(int32_t command, void *params = nullptr) {
        DriverRequest request{};
        request.context = &context;
        request.command = command;
        request.params = params;
        return request;
    }
    int32_t Command(int32_t command, void *params = nullptr) {
        DriverRequest request = Request(command, params);
        return QorMain(&request);
    }
    // Opens COM1 for the context (handle 100) and forgets the messages.
    void OpenFirst() {
        ASSERT_EQ(Command(QOR_REOPEN_COM), 0) << LogText();
        ASSERT_EQ(context.portHandle, 100u);
        ClearLog();
    }
    bool IsOpen(const std::string &device) const {
        for (const auto &open : Line().openPorts) {
            if (open.second == device) {
                return true;
            }
        }
        return false;
    }

    DriverContext context{};
    DriverContext other{};
};

TEST_F(PortCommandsTest, OpenComConfiguresTheOpenedPort) {
    PortSettings settings{"COM2", 4800, 7, 2, 0x0100};
    platform::PortHandle port = qor::OpenCom(settings);
    ASSERT_EQ(port, 100u);
    EXPECT_TRUE(Log().empty()) << LogText();
    EXPECT_EQ(Line().openPorts.at(port), "COM2");
    EXPECT_TRUE(SameLine(Line().settings, {4800, 7, 2, 0x0100}));
    EXPECT_EQ(Line().inputQueue, 4096u);
    EXPECT_EQ(Line().outputQueue, 4096u);
    EXPECT_EQ(Line().purges, 1);
    EXPECT_EQ(Line().timeoutMs, 0u) << "OpenCom sets no time-outs";
    platform::ClosePort(port);
}

TEST_F(PortCommandsTest, OpenComOfAMissingDeviceLogsOnceAndTouchesNothing) {
    PortSettings settings{"COM9", 4800, 7, 2, 2};
    EXPECT_EQ(qor::OpenCom(settings), 0u);
    EXPECT_EQ(Log(), std::vector<LogLine>({kOpenFailed})) << LogText();
    EXPECT_EQ(Line().purges, 0);
    EXPECT_EQ(Line().inputQueue, 0u);
}

TEST_F(PortCommandsTest, TimeoutInTensOfMillisecondsGivesThePortTimeout) {
    const struct {
        int32_t timeout;
        uint32_t milliseconds;
    } cases[] = {
        {0, 1000},
        {-1, 1000},
        {INT32_MIN, 1000},
        {1, 10},
        {100, 1000},
        {214748364, 2147483640u},
        {214748365, 2147483647u}, // the product no longer fits 32 bits signed
        {INT32_MAX, 2147483647u},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(qor::PortTimeoutMilliseconds(c.timeout), c.milliseconds) << c.timeout;
        qor::ApplyTimeouts(100, c.timeout);
        EXPECT_EQ(Line().timeoutMs, c.milliseconds) << c.timeout;
    }
}

TEST_F(PortCommandsTest, CloseComClosesAndAlwaysSucceeds) {
    OpenFirst();
    EXPECT_EQ(Command(QOR_CLOSE_COM), 0);
    EXPECT_EQ(context.portHandle, QOR_NO_PORT);
    EXPECT_TRUE(Line().openPorts.empty());
    EXPECT_EQ(Command(QOR_CLOSE_COM), 0);
    EXPECT_EQ(Log(), std::vector<LogLine>({kClosed, kClosed})) << LogText();
}

// A handle that this library did not open for the context, such as what a
// context holds before its first ColdStart, is never closed.
TEST_F(PortCommandsTest, CloseComNeverClosesAHandleItDidNotOpenForTheContext) {
    OpenFirst();
    other = context; // holds the value 100 without having opened anything
    DriverRequest request = Request(QOR_CLOSE_COM);
    request.context = &other;
    EXPECT_EQ(QorMain(&request), 0);
    EXPECT_EQ(Log(), std::vector<LogLine>({kClosed})) << LogText();
    EXPECT_EQ(other.portHandle, QOR_NO_PORT);
    EXPECT_TRUE(IsOpen("COM1"));
    EXPECT_EQ(context.portHandle, 100u);
}

TEST_F(PortCommandsTest, ReOpenComOpensWithTheContextTimeout) {
    const struct {
        int32_t timeout;
        uint32_t milliseconds;
    } cases[] = {{50, 500}, {0, 1000}, {-1, 1000}};
    for (const auto &c : cases) {
        SetUp();
        context.timeout = c.timeout;
        EXPECT_EQ(Command(QOR_REOPEN_COM), 0);
        EXPECT_EQ(Log(), std::vector<LogLine>({{8, "QORHT> ReOpenCom() exited 0"}})) << LogText();
        EXPECT_EQ(context.portHandle, 100u);
        EXPECT_EQ(Line().openPorts.at(100), "COM1");
        EXPECT_TRUE(SameLine(Line().settings, {9600, 8, 0, 0}));
        EXPECT_EQ(Line().timeoutMs, c.milliseconds) << c.timeout;
        qor::CloseRegisteredPort(&context);
    }
}

TEST_F(PortCommandsTest, ReOpenComWhileOpenFailsAndKeepsThePort) {
    OpenFirst();
    EXPECT_EQ(Command(QOR_REOPEN_COM), 2);
    EXPECT_EQ(Log(), std::vector<LogLine>({kOpenFailed, {32, "QORHT> ReOpenCom() exited 2"}}))
        << LogText();
    EXPECT_EQ(context.portHandle, 100u);
    EXPECT_EQ(Line().openPorts.size(), 1u);
    EXPECT_EQ(Line().openPorts.at(100), "COM1");
}

struct ChangeCase {
    const char *what;
    bool openBefore;
    ChangeParams params;
    int32_t result;
    std::vector<LogLine> log;
    platform::PortHandle handle;   // portHandle afterwards
    std::vector<std::string> open; // devices open afterwards
    int32_t timeout;               // context timeout afterwards
    platform::LineSettings settings;
    uint32_t portTimeoutMs; // time-out of the port last configured
};

TEST_F(PortCommandsTest, ChangeQorParamsCases) {
    const std::vector<ChangeCase> cases = {
        {"other name while open; baudRate 0 keeps all four line settings",
         true,
         {"COM2", 0, 0, 7, 2, 2},
         0,
         {kClosed, HereIn("COM2"), {0, "Hf = 65 "}, kChanged},
         101,
         {"COM2"},
         50,
         {9600, 8, 0, 0},
         500},
        {"other name while open, new device missing",
         true,
         {"COM9", -1, 19200, 7, 0, 2},
         2,
         {kClosed, HereIn("COM9"), kOpenFailed, kChangeFailed},
         QOR_NO_PORT,
         {},
         50,
         {19200, 7, 0, 2},
         500},
        {"same name while open: the open port stays, the context already changed",
         true,
         {"COM1", 30, 19200, 7, 0, 2},
         2,
         {HereIn("COM1"), kOpenFailed, kChangeFailed},
         100,
         {"COM1"},
         30,
         {19200, 7, 0, 2},
         500},
        {"names compare case-sensitively",
         true,
         {"com1", 20, 0, 0, 0, 0},
         0,
         {kClosed, HereIn("com1"), {0, "Hf = 65 "}, kChanged},
         101,
         {"com1"},
         20,
         {9600, 8, 0, 0},
         200},
        {"same name while closed",
         false,
         {"COM1", 20, 19200, 7, 0, 2},
         0,
         {HereIn("COM1"), {0, "Hf = 64 "}, kChanged},
         100,
         {"COM1"},
         20,
         {19200, 7, 0, 2},
         200},
        {"timeout 0 keeps the former timeout for the new port",
         false,
         {"COM2", 0, 4800, 8, 2, 1},
         0,
         {HereIn("COM2"), {0, "Hf = 64 "}, kChanged},
         100,
         {"COM2"},
         50,
         {4800, 8, 2, 1},
         500},
    };
    for (const ChangeCase &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.openBefore) {
            OpenFirst();
        }
        ChangeParams params = c.params;
        EXPECT_EQ(Command(QOR_CHANGE_PARAMS, &params), c.result);
        EXPECT_EQ(Log(), c.log) << LogText();
        EXPECT_EQ(context.portHandle, c.handle);
        std::vector<std::string> open;
        for (const auto &port : Line().openPorts) {
            open.push_back(port.second);
        }
        EXPECT_EQ(open, c.open);
        EXPECT_EQ(context.timeout, c.timeout);
        EXPECT_STREQ(context.portSettings.portName, c.params.portName);
        const PortSettings &now = context.portSettings;
        EXPECT_TRUE(SameLine({now.baudRate, now.dataBits, now.stopBits, now.parity}, c.settings));
        if (c.result == 0) {
            EXPECT_TRUE(SameLine(Line().settings, c.settings));
        }
        EXPECT_EQ(Line().timeoutMs, c.portTimeoutMs);
        qor::CloseRegisteredPort(&context);
    }
}

TEST_F(PortCommandsTest, MissingContextOrParametersFailWithOneMessage) {
    const struct {
        int32_t command;
        bool withContext;
        int32_t result;
        const char *message;
    } cases[] = {
        {QOR_CLOSE_COM, false, 0, "QORHT> CloseCom() no context"},
        {QOR_REOPEN_COM, false, 2, "QORHT> ReOpenCom() no context"},
        {QOR_CHANGE_PARAMS, false, 2, "QORHT> ChangeQorParams() no context or parameters"},
        {QOR_CHANGE_PARAMS, true, 2, "QORHT> ChangeQorParams() no context or parameters"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        SetUp();
        // Without a context the parameters are there; with one they are not.
        ChangeParams params{"COM2", 10, 0, 0, 0, 0};
        DriverRequest request = Request(c.command, c.withContext ? nullptr : &params);
        if (!c.withContext) {
            request.context = nullptr;
        }
        EXPECT_EQ(QorMain(&request), c.result);
        EXPECT_EQ(Log(), std::vector<LogLine>({{32, c.message}})) << LogText();
        EXPECT_TRUE(Line().openPorts.empty());
        EXPECT_STREQ(context.portSettings.portName, "COM1");
    }
}

// A name that fills all 12 bytes has no terminator. Behind it in the context
// lies baudRate, whose low byte is 0 here: a read past the 12 bytes would see
// the existing device "COM1COM1COM1" and open it.
TEST_F(PortCommandsTest, TwelveByteNameIsNeverReadPastItsEnd) {
    Line().devices.insert("COM1COM1COM1");
    ChangeParams params{};
    std::memcpy(params.portName, "COM1COM1COM1", 12);
    params.baudRate = 0x0100;
    EXPECT_EQ(Command(QOR_CHANGE_PARAMS, &params), 2);
    EXPECT_EQ(Log(), std::vector<LogLine>({HereIn("COM1COM1COM1"), kOpenFailed, kChangeFailed}))
        << LogText();
    EXPECT_TRUE(Line().openPorts.empty());
    EXPECT_EQ(std::memcmp(context.portSettings.portName, "COM1COM1COM1", 12), 0);
}

class ColdStartPortTest : public PortCommandsTest {
protected:
    // A name of 12 characters fills portName without a terminator.
    int32_t ColdStart(DriverContext &target, const std::string &name, int32_t openPort,
                      uint16_t baudRate = 19200) {
        ColdStartParams params{};
        std::memcpy(params.portName, name.data(), std::min<size_t>(name.size(), 12));
        params.openPort = openPort;
        params.timeout = 100;
        params.baudRate = baudRate;
        params.dataBits = 7;
        params.parity = 2;
        DriverRequest request{};
        request.context = &target;
        request.command = QOR_COLD_START;
        request.params = &params;
        return QorMain(&request);
    }
    TempDirectory directory; // no INT file
};

TEST_F(ColdStartPortTest, TwelveByteNameFailsToOpen) {
    Line().devices.insert("COM1COM1COM1");
    EXPECT_EQ(ColdStart(context, "COM1COM1COM1", 1, 0x0100), 1);
    ASSERT_GE(Log().size(), 2u);
    EXPECT_EQ(std::vector<LogLine>(Log().end() - 2, Log().end()),
              std::vector<LogLine>(
                  {kOpenFailed, {32, "QORHT> ColdStart() unable to open COM1COM1COM1 port"}}))
        << LogText();
    EXPECT_TRUE(Line().openPorts.empty());
}

TEST_F(ColdStartPortTest, RepeatedColdStartClosesThePortItOpened) {
    for (int32_t openPort : {0, 1}) {
        SCOPED_TRACE(openPort);
        SetUp();
        ASSERT_EQ(ColdStart(context, "COM1", 1), 0) << LogText();
        ASSERT_EQ(context.portHandle, 100u);
        ClearLog();
        EXPECT_EQ(ColdStart(context, "COM1", openPort), 0) << LogText();
        if (openPort == 0) {
            EXPECT_TRUE(Line().openPorts.empty());
            EXPECT_EQ(context.portHandle, QOR_NO_PORT);
        } else {
            EXPECT_EQ(Line().openPorts.size(), 1u);
            EXPECT_EQ(context.portHandle, 101u);
            EXPECT_EQ(Line().openPorts.at(101), "COM1");
        }
        // The close is silent: only ColdStart's own messages.
        EXPECT_EQ(testing_support::CountLog("QORHT> CloseCom() exited 0"), 0);
    }
}

// A context's bytes before its first ColdStart may equal another instance's
// port handle; that port is not this context's to close.
TEST_F(ColdStartPortTest, FreshContextLeavesAnotherInstancesPortOpen) {
    ASSERT_EQ(ColdStart(context, "COM1", 1), 0) << LogText();
    std::memcpy(&other, &context, sizeof other);
    ASSERT_EQ(other.portHandle, 100u);
    EXPECT_EQ(ColdStart(other, "COM2", 1), 0) << LogText();
    EXPECT_EQ(Line().openPorts.size(), 2u);
    EXPECT_EQ(Line().openPorts.at(100), "COM1");
    EXPECT_EQ(context.portHandle, 100u);
    EXPECT_EQ(other.portHandle, 101u);
}

} // namespace
