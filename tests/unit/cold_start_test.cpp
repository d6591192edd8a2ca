#include "host/driver.h"
#include "tests/support/fake_platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_directory.h"

#include <gtest/gtest.h>

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

const LogLine kVersion = {8, "QORHT> version compiled on Nov 15 1999 at time 10:30:27"};
const LogLine kNoFile = {8, "QORHT> ColdStart() Info, no initfile found"};
const LogLine kExited = {8, "QORHT> ColdStart() exited, 0"};
const LogLine kOccupationUsed = {8, "QORHT> ColdStart() info: READ OCCUPATION used"};
const LogLine kNoOccupationUsed = {8, "QORHT> ColdStart() info: NO READ OCCUPATION used"};

class ColdStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        qor::driverEnded = 0;
        ResetLine();
        ClearLog();
        // A fresh host allocation holds anything.
        std::memset(&context, 0xA5, sizeof context);
        params = ColdStartParams{};
        std::strcpy(params.portName, "COM1");
        params.timeout = 250;
        params.baudRate = 19200;
        params.dataBits = 7;
        params.stopBits = 0;
        params.parity = 2;
    }
    void TearDown() override { qor::driverEnded = 0; }

    int32_t ColdStart(int32_t openPort, int32_t instance = 1) {
        params.openPort = openPort;
        DriverRequest request{};
        request.context = &context;
        request.command = QOR_COLD_START;
        request.instance = instance;
        request.params = &params;
        return QorMain(&request);
    }

    TempDirectory directory;
    DriverContext context;
    ColdStartParams params{};
};

TEST_F(ColdStartTest, WithoutPortTakesSettingsAndIntFile) {
    directory.Write("QORHT01.INT", "IFG = 20\nOCCUPATION = NO\nA : 01 02\n");
    params.portName[11] = 'X'; // the host's 12 bytes are taken as they are
    ASSERT_EQ(ColdStart(0), 0);
    const std::vector<LogLine> expected = {
        kVersion,
        {8, "QORHT> ReadIntFile() IFG = 20"},
        {8, "QORHT> ReadIntFile() A= loop 01h, unit 02h"},
        kExited,
    };
    EXPECT_EQ(Log(), expected) << LogText();
    EXPECT_EQ(context.timeout, 250);
    EXPECT_EQ(context.portHandle, QOR_NO_PORT);
    EXPECT_EQ(std::memcmp(context.portSettings.portName, params.portName, QOR_PORT_NAME_SIZE), 0);
    EXPECT_EQ(context.portSettings.baudRate, 19200);
    EXPECT_EQ(context.portSettings.dataBits, 7);
    EXPECT_EQ(context.portSettings.stopBits, 0);
    EXPECT_EQ(context.portSettings.parity, 2);
    EXPECT_EQ(context.startMark, 787);
    EXPECT_EQ(context.interFrameGap, 20u);
    EXPECT_EQ(context.occupationEnabled, 0);
    EXPECT_EQ(context.stations['A'].loop, 0x01);
    EXPECT_EQ(context.stations['A'].unit, 0x02);
    EXPECT_EQ(context.stations['A'].office, 0xFF);
    EXPECT_TRUE(Line().openPorts.empty());
    EXPECT_TRUE(Line().frames.empty());
}

TEST_F(ColdStartTest, DefaultsWithoutIntFile) {
    for (int32_t timeout : {0, -1, 250}) {
        SetUp();
        params.timeout = timeout;
        ASSERT_EQ(ColdStart(0), 0);
        const std::vector<LogLine> expected = {kVersion, kNoFile, kExited};
        EXPECT_EQ(Log(), expected) << LogText();
        EXPECT_EQ(context.timeout, timeout);
        EXPECT_EQ(context.interFrameGap, 10u);
        EXPECT_EQ(context.occupationEnabled, 1);
        for (const StationEntry &entry : context.stations) {
            EXPECT_EQ(entry.loop, 0xFF);
            EXPECT_EQ(entry.unit, 0xFF);
            EXPECT_EQ(entry.office, 0xFF);
            EXPECT_EQ(entry.occupied, 0);
        }
    }
}

TEST_F(ColdStartTest, ClearsTheEndedFlag) {
    qor::driverEnded = 1;
    DriverRequest request{};
    request.context = &context;
    request.command = QOR_COLD_START;
    request.params = &params;
    // Through QorMain an ended library does nothing, ColdStart included.
    EXPECT_EQ(QorMain(&request), 0);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(qor::ColdStart(&request), 0);
    EXPECT_EQ(qor::driverEnded.load(), 0);
}

TEST_F(ColdStartTest, OpensThePortAndReportsOccupation) {
    struct Case {
        const char *intFile; // nullptr: none
        std::vector<LogLine> intLog;
        LogLine info;
    };
    const std::vector<Case> cases = {
        {nullptr, {kNoFile}, kOccupationUsed},
        {"OCCUPATION = YES\n", {}, kOccupationUsed},
        {"OCCUPATION = NO\nIFG=3\n", {{8, "QORHT> ReadIntFile() IFG = 3"}}, kNoOccupationUsed},
    };
    for (const Case &c : cases) {
        SetUp();
        directory.Remove("QORHT.INT");
        if (c.intFile != nullptr) {
            directory.Write("QORHT.INT", c.intFile);
        }
        ASSERT_EQ(ColdStart(1), 0) << LogText();
        std::vector<LogLine> expected = {kVersion};
        expected.insert(expected.end(), c.intLog.begin(), c.intLog.end());
        expected.push_back({32, "QORHT> ColdStart() port COM1 opened, file handle 100"});
        expected.push_back(c.info);
        expected.push_back(kExited);
        EXPECT_EQ(Log(), expected) << LogText();
        EXPECT_EQ(context.portHandle, 100u);
        ASSERT_EQ(Line().openPorts.count(100), 1u);
        EXPECT_EQ(Line().openPorts.at(100), "COM1");
        // The time-out step ran with the context's timeout of 250 x 10 ms.
        EXPECT_EQ(Line().timeoutMs, 2500u);
        EXPECT_TRUE(Line().frames.empty());
    }
}

TEST_F(ColdStartTest, UnknownDeviceFailsAfterTakingEverythingElse) {
    std::strcpy(params.portName, "COM9");
    directory.Write("QORHT.INT", "IFG = 30\n");
    EXPECT_EQ(ColdStart(1), 1);
    const std::vector<LogLine> expected = {
        kVersion,
        {8, "QORHT> ReadIntFile() IFG = 30"},
        {32, "QORHT> OpenCom() exited with error"},
        {32, "QORHT> ColdStart() unable to open COM9 port"},
    };
    EXPECT_EQ(Log(), expected) << LogText();
    EXPECT_EQ(context.portHandle, QOR_NO_PORT);
    EXPECT_EQ(context.interFrameGap, 30u);
    EXPECT_EQ(context.startMark, 787);
    EXPECT_STREQ(context.portSettings.portName, "COM9");
    EXPECT_TRUE(Line().openPorts.empty());
}

TEST_F(ColdStartTest, RepeatedColdStartRereadsTheFileAndClearsOccupation) {
    for (int32_t openPort : {0, 1}) {
        SetUp();
        directory.Write("QORHT.INT", "A : 01 02 03\nB : 04 05\n");
        ASSERT_EQ(ColdStart(openPort), 0) << LogText();
        context.stations['A'].occupied = 1;
        context.stations['B'].occupied = 1;
        context.interFrameGap = 77;
        context.occupationEnabled = 0;

        directory.Write("QORHT.INT", "B : 06 07\n");
        ClearLog();
        ASSERT_EQ(ColdStart(openPort), 0) << "openPort " << openPort << ":\n" << LogText();
        EXPECT_EQ(context.stations['A'].loop, 0xFF);
        EXPECT_EQ(context.stations['A'].office, 0xFF);
        EXPECT_EQ(context.stations['A'].occupied, 0);
        EXPECT_EQ(context.stations['B'].loop, 0x06);
        EXPECT_EQ(context.stations['B'].unit, 0x07);
        EXPECT_EQ(context.stations['B'].occupied, 0);
        EXPECT_EQ(context.interFrameGap, 10u);
        EXPECT_EQ(context.occupationEnabled, 1);
        // No release telegram or anything else went out.
        EXPECT_TRUE(Line().frames.empty()) << "openPort " << openPort;
        EXPECT_EQ(testing_support::CountLog("QORHT> ColdStart() exited, 0"), 1);
    }
}

} // namespace
