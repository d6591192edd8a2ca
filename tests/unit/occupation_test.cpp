// Station occupation: the preamble of reads and writes, WarmStart and EndQor.
#include "exchange/occupation.h"
#include "exchange/transactions.h"
#include "host/driver.h"
#include "tests/support/fake_platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/scripted_controller.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

const std::string kReadBody = "400A00001001";
const std::string kWriteBody = "420A000010010001";

// Stations A (loop 1, unit 2) and C (loop 1, unit 3), neither occupied.
class OccupationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLine();
        ClearLog();
        qor::driverEnded = 0;
        ResetEngineContext(context_);
        context_.stations['A'] = {0x02, 0x01, 0xFF, 0};
        context_.stations['C'] = {0x03, 0x01, 0xFF, 0};
        io_.gateAddress = {'A', 10, 0x10, -1, 16};
        io_.count = 1;
        io_.data = &cell_;
        cell_ = 0x00010000; // second unit 1 on a little-endian host
        request_.context = &context_;
        request_.params = &io_;
        controller_ = std::make_unique<ScriptedController>();
        const std::string readAnswer = ResponseFrame(false, "00", "40", "0001");
        controller_->Script(kReadBody, {Answers(readAnswer)});
        controller_->Script(kWriteBody, {Answers(ResponseFrame(false, "00", "42"))});
    }

    static Exchange Answers(const std::string &response) {
        Exchange exchange;
        exchange.polls = {response};
        return exchange;
    }
    static Exchange Silence() {
        Exchange exchange;
        exchange.ack.clear();
        return exchange;
    }
    // Content (header and body) of a telegram to station A or C.
    static std::string To(char station, const std::string &body) {
        return std::string(station == 'A' ? "001020000" : "001030000") + body;
    }

    int32_t Transfer(bool read) {
        return read ? qor::SingleRead(&request_) : qor::SingleWrite(&request_);
    }

    DriverContext context_;
    IoRequest io_{};
    DriverRequest request_{};
    uint32_t cell_ = 0;
    std::unique_ptr<ScriptedController> controller_;
};

// --- The preamble of reads and writes ---------------------------------------

TEST_F(OccupationTest, FirstTransferOccupiesTheStationOnce) {
    struct Row {
        bool read;
        int32_t occupation;
        std::vector<std::string> first;
    };
    const Row rows[] = {
        {true, 1, {"1701", "1601", kReadBody}},
        {true, 0, {"1701", "A00A00001001"}},
        {false, 1, {"1701", "1601", kWriteBody}},
        {false, 0, {"1701", "A20A000010010001"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.read ? "read" : "write") + " occupation " +
                     std::to_string(row.occupation));
        SetUp();
        context_.occupationEnabled = row.occupation;
        const std::string own = row.first.back();
        controller_->Script(own,
                            {Answers(ResponseFrame(false, "00", "40", row.read ? "0001" : ""))});

        ASSERT_EQ(Transfer(row.read), 0) << LogText();
        EXPECT_EQ(controller_->Bodies(), row.first);
        EXPECT_EQ(context_.stations['A'].occupied, 1);
        EXPECT_EQ(io_.gateAddress.memoryType, 10);

        ASSERT_EQ(Transfer(row.read), 0);
        std::vector<std::string> both = row.first;
        both.push_back(own);
        EXPECT_EQ(controller_->Bodies(), both) << "the second transfer has no preamble";
    }
}

TEST_F(OccupationTest, FailedPreambleClearsTheFlagAndRunsAgainNextTime) {
    struct Row {
        const char *name;
        bool read;
        const char *failingTask;
        Exchange failure;
        int32_t result;
        std::vector<std::string> bodies;
        std::string message;
    };
    const Row rows[] = {
        {"ForcedReleaseSilentRead", true, "1701", Silence(), 2,
         std::vector<std::string>(12, "1701"),
         "QORHT> DoRead() forced release failed for station 'A'"},
        {"ForcedReleaseRefusedWrite",
         false,
         "1701",
         Answers(ResponseFrame(false, "01", "17")),
         1,
         {"1701"},
         "QORHT> DoWrite() forced release failed for station 'A'"},
        {"ReadOccupationRefusedRead",
         true,
         "1601",
         Answers(ResponseFrame(false, "01", "16")),
         1,
         {"1701", "1601"},
         "QORHT> DoRead() read occupation failed for station 'A'"},
        {"ReadOccupationSilentWrite",
         false,
         "1601",
         Silence(),
         2,
         {"1701", "1601", "1601", "1601", "1601", "1601", "1601", "1601", "1601", "1601", "1601",
          "1601", "1601"},
         "QORHT> DoWrite() read occupation failed for station 'A'"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        controller_->Script(row.failingTask, {row.failure});

        EXPECT_EQ(Transfer(row.read), row.result);

        EXPECT_EQ(controller_->Bodies(), row.bodies);
        EXPECT_EQ(context_.stations['A'].occupied, 0);
        EXPECT_EQ(io_.gateAddress.memoryType, 10);
        const std::string handler =
            row.read ? "QORHT> Single Read() , ret val is " : "QORHT> SingleWrite() , ret val is ";
        ASSERT_GE(Log().size(), 2u);
        EXPECT_EQ(Log()[Log().size() - 2], (LogLine{8, row.message}));
        EXPECT_EQ(Log().back(), (LogLine{8, handler + std::to_string(row.result)}));

        // The next transfer starts the preamble again; now it succeeds.
        controller_->Script(row.failingTask, {});
        const std::size_t before = controller_->Bodies().size();
        EXPECT_EQ(Transfer(row.read), 0) << LogText();
        const std::vector<std::string> all = controller_->Bodies();
        std::vector<std::string> again(all.begin() + static_cast<std::ptrdiff_t>(before),
                                       all.end());
        EXPECT_EQ(again,
                  (std::vector<std::string>{"1701", "1601", row.read ? kReadBody : kWriteBody}));
        EXPECT_EQ(context_.stations['A'].occupied, 1);
    }
}

TEST_F(OccupationTest, WithoutPortTheForcedReleaseFailsInEveryAttempt) {
    context_.portHandle = QOR_NO_PORT;
    EXPECT_EQ(qor::SingleWrite(&request_), 2);
    std::vector<LogLine> expected;
    for (int attempt = 1; attempt <= 12; ++attempt) {
        expected.push_back(
            {8, "QORHT> DoRead() Send task code error, retry " + std::to_string(attempt)});
    }
    expected.push_back({8, "QORHT> DoWrite() forced release failed for station 'A'"});
    expected.push_back({8, "QORHT> SingleWrite() , ret val is 2"});
    EXPECT_EQ(Log(), expected);
    EXPECT_EQ(context_.stations['A'].occupied, 0);
    EXPECT_EQ(io_.gateAddress.memoryType, 10);
}

// --- WarmStart ----------------------------------------------------------------

class WarmStartTest : public OccupationTest {
protected:
    int32_t WarmStart(int32_t station) {
        params_.station = station;
        request_.params = &params_;
        request_.command = QOR_WARM_START;
        return QorMain(&request_);
    }
    WarmStartParams params_{};
};

TEST_F(WarmStartTest, SendsTheTasksAnewAndOccupiesTheStation) {
    struct Row {
        int32_t occupation;
        uint8_t occupiedBefore;
        std::vector<std::string> bodies;
    };
    const Row rows[] = {
        {1, 0, {"1701", "1601"}},
        {1, 1, {"1701", "1601"}},
        {0, 0, {"1701"}},
        {0, 1, {"1701"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << "occupation " << row.occupation << " occupied " << int(row.occupiedBefore));
        SetUp();
        context_.occupationEnabled = row.occupation;
        context_.stations['A'].occupied = row.occupiedBefore;

        EXPECT_EQ(WarmStart('A'), 0);

        EXPECT_EQ(controller_->Bodies(), row.bodies);
        EXPECT_EQ(context_.stations['A'].occupied, 1);
        EXPECT_EQ(request_.params, &params_);
        EXPECT_EQ(Log(), (std::vector<LogLine>{{8, "QORHT> WarmStart() station 'A', OK"}}));
    }
}

TEST_F(WarmStartTest, FailedTaskClearsTheFlagAndReturnsItsResult) {
    struct Row {
        const char *task;
        Exchange failure;
        int32_t result;
        std::size_t telegrams;
        const char *message;
    };
    const Row rows[] = {
        {"1701", Silence(), 2, 12, "QORHT> WarmStart() station 'A', FORCED RELEASE failed"},
        {"1701", Answers(ResponseFrame(false, "01", "17")), 1, 1,
         "QORHT> WarmStart() station 'A', FORCED RELEASE failed"},
        {"1601", Answers(ResponseFrame(false, "01", "16")), 1, 2,
         "QORHT> WarmStart() station 'A', READ OCCUPATE failed"},
        {"1601", Silence(), 2, 13, "QORHT> WarmStart() station 'A', READ OCCUPATE failed"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.task) + " result " + std::to_string(row.result));
        SetUp();
        context_.stations['A'].occupied = 1;
        controller_->Script(row.task, {row.failure});

        EXPECT_EQ(WarmStart('A'), row.result);

        EXPECT_EQ(controller_->Bodies().size(), row.telegrams);
        EXPECT_EQ(context_.stations['A'].occupied, 0);
        EXPECT_EQ(request_.params, &params_);
        EXPECT_EQ(Log().back(), (LogLine{8, row.message}));
    }
}

TEST_F(WarmStartTest, StationCodeIsUsedUnchanged) {
    // 'a' is another entry than 'A', never configured: its telegrams carry
    // FF as loop and unit.
    EXPECT_EQ(WarmStart('a'), 0) << LogText();
    EXPECT_EQ(controller_->frames.at(0).content, "0FFFF00001701");
    EXPECT_EQ(context_.stations['a'].occupied, 1);
    EXPECT_EQ(context_.stations['A'].occupied, 0);
    EXPECT_EQ(Log().back(), (LogLine{8, "QORHT> WarmStart() station 'a', OK"}));
}

TEST_F(WarmStartTest, RefusesWhatItCannotServe) {
    struct Row {
        const char *name;
        int32_t station;
        bool noParams;
        bool noContext;
        const char *message;
    };
    const Row rows[] = {
        {"Negative", -1, false, false, "QORHT> WarmStart() station -1 out of range"},
        {"Above255", 256, false, false, "QORHT> WarmStart() station 256 out of range"},
        {"Huge", INT32_MAX, false, false, "QORHT> WarmStart() station 2147483647 out of range"},
        {"NoParams", 'A', true, false, "QORHT> WarmStart() no context or parameters"},
        {"NoContext", 'A', false, true, "QORHT> WarmStart() no context or parameters"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        params_.station = row.station;
        request_.params = row.noParams ? nullptr : &params_;
        request_.context = row.noContext ? nullptr : &context_;
        const DriverRequest before = request_;

        EXPECT_EQ(qor::WarmStart(&request_), 2);

        EXPECT_EQ(Log(), (std::vector<LogLine>{{8, row.message}}));
        EXPECT_TRUE(Line().frames.empty());
        EXPECT_EQ(std::memcmp(&request_, &before, sizeof request_), 0);
        EXPECT_EQ(context_.stations['A'].occupied, 0);
    }
}

// --- EndQor ---------------------------------------------------------------------

class EndQorTest : public OccupationTest {
protected:
    int32_t EndQor() {
        request_.params = &io_; // whatever the host left there comes back
        request_.command = QOR_END;
        return QorMain(&request_);
    }
    void TearDown() override { qor::driverEnded = 0; }
};

TEST_F(EndQorTest, ReleasesOccupiedStationsInOrderAndGoesOnAfterAFailure) {
    context_.stations['C'].occupied = 1;
    context_.stations['A'].occupied = 1;
    controller_->Script(To('A', "1600"), {Silence()});
    std::vector<int32_t> endedWhenSent;
    controller_->onTelegram = [&endedWhenSent](const SeenFrame &) {
        endedWhenSent.push_back(qor::driverEnded.load());
    };

    EXPECT_EQ(EndQor(), 0);

    std::vector<std::string> contents;
    for (const SeenFrame &frame : controller_->frames) {
        if (frame.kind == SeenFrame::kTelegram) {
            contents.push_back(frame.content);
        }
    }
    std::vector<std::string> expected(12, To('A', "1600"));
    expected.push_back(To('C', "1600"));
    EXPECT_EQ(contents, expected);
    EXPECT_EQ(endedWhenSent, std::vector<int32_t>(13, 1)) << "ended before the first telegram";
    EXPECT_EQ(CountLog("QORHT> EndQor() release of read occupation failed for station 'A'"), 1);
    EXPECT_EQ(CountLog("QORHT> EndQor() release of read occupation failed for station 'C'"), 0);
    EXPECT_EQ(Log().back(), (LogLine{8, "QORHT> EndQor() exited, 0"}));
    EXPECT_EQ(context_.stations['A'].occupied, 1);
    EXPECT_EQ(context_.stations['C'].occupied, 1);
    EXPECT_EQ(request_.params, &io_);
    EXPECT_EQ(qor::driverEnded.load(), 1);
}

TEST_F(EndQorTest, WithoutReadOccupationNothingIsReleased) {
    context_.occupationEnabled = 0;
    context_.stations['A'].occupied = 1;
    EXPECT_EQ(EndQor(), 0);
    EXPECT_TRUE(Line().frames.empty());
    EXPECT_EQ(Log().back(), (LogLine{8, "QORHT> EndQor() exited, 0"}));
    EXPECT_EQ(context_.stations['A'].occupied, 1);
    EXPECT_EQ(request_.params, &io_);
}

TEST_F(EndQorTest, EndedDriverServesNoFurtherCommand) {
    context_.stations['A'].occupied = 1;
    ASSERT_EQ(EndQor(), 0);
    const std::size_t frames = Line().frames.size();
    ClearLog();
    request_.params = &io_;
    request_.command = QOR_SINGLE_READ;
    EXPECT_EQ(QorMain(&request_), 0);
    EXPECT_EQ(Line().frames.size(), frames);
    EXPECT_TRUE(Log().empty());
}

TEST_F(EndQorTest, AcceptsNoParamsAndRefusesNoContext) {
    request_.params = nullptr;
    EXPECT_EQ(qor::EndQor(&request_), 0);
    EXPECT_EQ(request_.params, nullptr);
    EXPECT_EQ(Log().back(), (LogLine{8, "QORHT> EndQor() exited, 0"}));

    SetUp();
    request_.context = nullptr;
    EXPECT_EQ(qor::EndQor(&request_), 2);
    EXPECT_EQ(qor::driverEnded.load(), 1);
    EXPECT_EQ(Log(), (std::vector<LogLine>{{8, "QORHT> EndQor() no context"}}));
}

} // namespace
