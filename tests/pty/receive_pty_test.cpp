// Reception and the short frames over a real pseudo-terminal: the link layer
// on the POSIX serial layer, with the test playing the controller on the
// master side.
#include "link/frames.h"
#include "platform/platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/pty.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

using testing_support::ClearLog;
using testing_support::HasLog;
using testing_support::Log;
using testing_support::LogText;
using testing_support::Pty;

namespace {

constexpr uint32_t kTimeoutMs = 200;

class ReceivePtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearLog();
        ASSERT_TRUE(pty.ok());
        // The host names the device in at most 11 characters.
        const std::string &device = pty.path().size() <= 11 ? pty.path() : pty.name();
        port = platform::OpenPort(device.c_str());
        ASSERT_NE(port, 0u) << device;
        platform::ConfigureLine(port, platform::LineSettings{19200, 8, 0, 0});
        platform::SetTimeouts(port, kTimeoutMs);

        std::memset(&context, 0, sizeof context);
        std::memset(context.stations, 0xFF, sizeof context.stations);
        context.portHandle = port;
        io.gateAddress.station = 'A';
        request.context = &context;
        request.params = &io;
    }
    void TearDown() override {
        if (port != 0) {
            platform::ClosePort(port);
        }
    }

    int32_t Receive() { return qor::Receive(context.rxBuffer, &length, context.portHandle); }
    std::string Received() const {
        return std::string(context.rxBuffer, static_cast<size_t>(length));
    }

    Pty pty;
    platform::PortHandle port = 0;
    DriverContext context{};
    IoRequest io{};
    DriverRequest request{};
    int32_t length = -1;
};

TEST_F(ReceivePtyTest, TakesInOneMessageAtATimeThenReportsSilence) {
    const std::string ack = "\x06\r";
    const std::string response = "\x02"
                                 "0010200000001234"
                                 "0D\r";
    const std::string eot = "\x04"
                            "0FF";
    const std::string nak = "\x15"
                            "0503\r";
    ASSERT_TRUE(pty.Write(ack + response + eot + nak));

    for (const std::string &expected : {ack, response, eot, nak}) {
        ASSERT_EQ(Receive(), 0) << LogText();
        EXPECT_EQ(Received(), expected);
    }
    EXPECT_TRUE(Log().empty()) << LogText();

    // Nothing more comes: the read time-out ends the reception, the previous
    // first character stays and nothing is logged.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Receive(), 2);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(kTimeoutMs - 20));
    EXPECT_LT(waited, std::chrono::milliseconds(kTimeoutMs * 10));
    EXPECT_EQ(length, 6);
    EXPECT_EQ(context.rxBuffer[0], qor::kNak);
    EXPECT_TRUE(Log().empty()) << LogText();
}

TEST_F(ReceivePtyTest, FaultyMessagesAreReportedAtLevel8) {
    ASSERT_TRUE(pty.Write("\x02"
                          "ZZB5\r"));
    EXPECT_EQ(Receive(), 1);
    EXPECT_TRUE(HasLog(8, "QORHT> Receive() sum check error")) << LogText();

    // An ACK whose rest never comes ends with the read time-out.
    ClearLog();
    ASSERT_TRUE(pty.Write("\x06"
                          "0"));
    EXPECT_EQ(Receive(), 1);
    EXPECT_TRUE(HasLog(8, "QORHT> Receive() error in rcv ACK msg")) << LogText();
    EXPECT_EQ(Log().size(), 1u);
}

TEST_F(ReceivePtyTest, EnqAndNakReachTheLineWhole) {
    context.stations['A'].office = 0x05;
    context.interFrameGap = 0;
    ASSERT_EQ(qor::SendEnq(&request), 0);
    ASSERT_EQ(qor::SendNak(&request, 0xFF), 0);
    EXPECT_EQ(pty.Read(13, 2000), "\x05"
                                  "0051\r"
                                  "\x15"
                                  "005FF\r");
}

} // namespace
