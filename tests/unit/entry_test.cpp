#include "host/driver.h"
#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <cstring>

using testing_support::ClearLog;
using testing_support::HasLog;
using testing_support::Log;

namespace {

DriverRequest Request(int32_t command, void *params = nullptr, DriverContext *context = nullptr) {
    DriverRequest request{};
    request.context = context;
    request.command = command;
    request.params = params;
    return request;
}

class EntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        qor::driverEnded = 0;
        ClearLog();
    }
    void TearDown() override { qor::driverEnded = 0; }
};

TEST_F(EntryTest, CodesWithoutHandlerReturnTwoAndLogNothing) {
    for (int32_t code : {0, 8, 9, 16, 17, -1, 99, INT32_MIN}) {
        DriverRequest request = Request(code);
        DriverRequest before = request;
        EXPECT_EQ(QorMain(&request), 2) << "code " << code;
        EXPECT_EQ(std::memcmp(&request, &before, sizeof request), 0);
    }
    EXPECT_TRUE(Log().empty());
}

TEST_F(EntryTest, GetQorInfoFillsEveryField) {
    DriverInfo info{};
    DriverRequest request = Request(QOR_GET_INFO, &info);
    ASSERT_EQ(QorMain(&request), 0);
    EXPECT_EQ(info.leadingCode, 70);
    EXPECT_EQ(info.contextSize, static_cast<int32_t>(sizeof(DriverContext)));
    EXPECT_EQ(info.middleCode, 4);
    EXPECT_EQ(info.defaultBaudRate, 19200);
    EXPECT_EQ(info.defaultDataBits, 7);
    EXPECT_EQ(info.defaultStopBits, 0);
    EXPECT_EQ(info.defaultParity, 2);
    EXPECT_EQ(info.trailingCode, 3);
    EXPECT_STREQ(info.driverName, "Hitachi H series");
    EXPECT_EQ(info.driverName[17], 'H');
    EXPECT_STREQ(info.driverName + 17,
                 "Hitachi H series PLC's, connected to the CPU or to a COMM-2H communication "
                 "processor");
    EXPECT_TRUE(HasLog(8, "QORHT> GetQorInfo() exited"));
}

TEST_F(EntryTest, BannerIsTheBoxByteForByte) {
    DriverInfo info{};
    DriverRequest request = Request(QOR_GET_INFO, &info);
    ASSERT_EQ(QorMain(&request), 0);
    std::string expected = "\x08\xC9" + std::string(57, '\xCD') + "\xBB\n\xBA" +
                           "  ROVOZ:  Hitachi  H series              (32-bit driver) " +
                           "\xBA\n\xC8" + std::string(57, '\xCD') + "\xBC";
    ASSERT_EQ(expected.size(), 180u);
    EXPECT_EQ(std::string(info.banner), expected);
}

TEST_F(EntryTest, EndedLibraryAnswersEverythingWithZeroAndDoesNothing) {
    qor::driverEnded = 1;
    DriverInfo info{};
    std::memset(&info, 0x5A, sizeof info);
    DriverInfo before = info;
    DriverRequest info_request = Request(QOR_GET_INFO, &info);
    EXPECT_EQ(QorMain(&info_request), 0);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
    DriverRequest unknown = Request(99);
    EXPECT_EQ(QorMain(&unknown), 0);
    EXPECT_TRUE(Log().empty());
}

TEST_F(EntryTest, GetQorInfoWithoutRecordFails) {
    DriverRequest request = Request(QOR_GET_INFO);
    EXPECT_EQ(QorMain(&request), 2);
    ASSERT_EQ(Log().size(), 1u);
    EXPECT_EQ(Log()[0].level, 32);
}

} // namespace
