// Whole transactions through QorMain over a real pseudo-terminal: the driver
// opens the slave, a controller thread answers on the master side, and every
// frame the driver sends is checked byte for byte.
#include "host/driver.h"
#include "tests/support/log_capture.h"
#include "tests/support/pty.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using testing_support::ClearLog;
using testing_support::Log;
using testing_support::LogLine;
using testing_support::LogText;
using testing_support::Pty;

namespace {

// Station A: loop 01, unit 02, no office.
const std::string kHeader = "001020000";

std::string Sum(const std::string &text) {
    unsigned sum = 0;
    for (unsigned char c : text) {
        sum += c;
    }
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum & 0xFF);
    return hex;
}

std::string Frame(const std::string &text) {
    return "\x02" + text + Sum(text) + "\r";
}
std::string Telegram(const std::string &body) {
    return Frame(kHeader + body);
}
std::string Response(const std::string &command, const std::string &data = "") {
    return Frame("00000000"
                 "00" +
                 command + data);
}

const std::string kEnq = "\x05"
                         "01\r";

// Plays station A on the master side: ACK to every telegram, and to the ENQs
// after it the answers `answers` holds for that telegram's body. Stops when
// the line stays silent for a while, so a failing test never hangs.
class Controller {
public:
    // A controller that does not answer only records what arrives.
    explicit Controller(Pty &pty, bool answers = true)
        : pty_(pty), answers_(answers), thread_([this] { Serve(); }) {}
    ~Controller() { Stop(); }

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    std::vector<std::string> Frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }

private:
    std::string ReadFrame() {
        std::string frame;
        for (int idle = 0; !stop_ && idle < 50;) {
            std::string byte = pty_.Read(1, 100);
            if (byte.empty()) {
                idle += frame.empty() ? 1 : 0;
                if (!frame.empty()) {
                    return frame; // a frame cut short: show it as it came
                }
                continue;
            }
            frame += byte;
            if (byte == "\r") {
                return frame;
            }
        }
        return frame;
    }

    std::string AnswerToEnq() {
        ++polls_;
        if (body_ == "1701" || body_ == "1601" || body_ == "1600") {
            return Response(body_.substr(0, 2));
        }
        if (body_ == "400A00001001") {
            // One EOT first: the driver must poll again.
            return polls_ == 1 ? std::string("\x04\r") : Response("40", "1234");
        }
        if (body_ == "420A000010015678") {
            return Response("42");
        }
        return std::string("\x15"
                           "05\r");
    }

    void Serve() {
        while (!stop_) {
            std::string frame = ReadFrame();
            if (frame.empty()) {
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                frames_.push_back(frame);
            }
            if (!answers_) {
                continue;
            }
            if (frame[0] == '\x02' && frame.size() > kHeader.size() + 3) {
                body_ = frame.substr(1 + kHeader.size(), frame.size() - kHeader.size() - 4);
                polls_ = 0;
                pty_.Write("\x06\r");
            } else if (frame == kEnq) {
                pty_.Write(AnswerToEnq());
            }
        }
    }

    Pty &pty_;
    const bool answers_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> frames_;
    std::string body_;
    int polls_ = 0;
    std::thread thread_;
};

class EnginePtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearLog();
        qor::driverEnded = 0;
        ASSERT_TRUE(pty_.ok());
        ColdStartParams params{};
        ASSERT_LT(pty_.name().size(), sizeof params.portName);
        std::memcpy(params.portName, pty_.name().c_str(), pty_.name().size() + 1);
        params.openPort = 1;
        params.timeout = 20; // 200 ms per read
        params.baudRate = 19200;
        params.dataBits = 7;
        params.parity = 2;
        request_.context = &context_;
        request_.command = QOR_COLD_START;
        request_.instance = 97;
        request_.params = &params;
        ASSERT_EQ(QorMain(&request_), 0) << LogText();
        // The station as an INT file would define it, whatever file the
        // working directory holds.
        context_.stations['A'] = {0x02, 0x01, 0xFF, 0};
        context_.occupationEnabled = 1;
        context_.interFrameGap = 10;
        ClearLog();
    }
    void TearDown() override {
        if (!qor::driverEnded) {
            request_.command = QOR_CLOSE_COM;
            QorMain(&request_);
        }
        qor::driverEnded = 0;
    }

    int32_t Transfer(int32_t command, uint16_t *cell) {
        IoRequest io{};
        io.gateAddress = {'A', 10, 0x10, -1, 16};
        io.gateType = 0;
        io.count = 1;
        io.data = cell;
        request_.command = command;
        request_.params = &io;
        return QorMain(&request_);
    }

    Pty pty_;
    DriverContext context_{};
    DriverRequest request_{};
};

TEST_F(EnginePtyTest, ReadAndWriteThenEndOverTheLine) {
    Controller controller(pty_);

    uint16_t cell[2] = {0xAAAA, 0};
    EXPECT_EQ(Transfer(QOR_SINGLE_READ, cell), 0) << LogText();
    EXPECT_EQ(cell[1], 0x1234);
    EXPECT_EQ(cell[0], 0xAAAA);

    cell[1] = 0x5678;
    EXPECT_EQ(Transfer(QOR_SINGLE_WRITE, cell), 0) << LogText();
    EXPECT_TRUE(Log().empty()) << LogText();

    request_.command = QOR_END;
    request_.params = nullptr;
    EXPECT_EQ(QorMain(&request_), 0);
    EXPECT_EQ(context_.portHandle, QOR_NO_PORT);
    controller.Stop();

    const std::vector<std::string> expected = {
        Telegram("1701"),
        kEnq,
        Telegram("1601"),
        kEnq,
        Telegram("400A00001001"),
        kEnq,
        kEnq,
        Telegram("420A000010015678"),
        kEnq,
        Telegram("1600"),
        kEnq,
    };
    EXPECT_EQ(controller.Frames(), expected);
    EXPECT_EQ(Log(), (std::vector<LogLine>{{8, "QORHT> CloseCom() exited 0"},
                                           {8, "QORHT> EndQor() exited, 0"}}));
}

TEST_F(EnginePtyTest, SilentControllerFailsTheReadInTheForcedRelease) {
    // Nobody answers: every forced-release attempt waits out its ACK.
    Controller controller(pty_, false);
    uint16_t cell[2] = {0, 0x7777};
    EXPECT_EQ(Transfer(QOR_SINGLE_READ, cell), 2);
    EXPECT_EQ(cell[1], 0x7777);
    controller.Stop();
    EXPECT_EQ(controller.Frames(), std::vector<std::string>(12, Telegram("1701")));
    ASSERT_FALSE(Log().empty());
    EXPECT_EQ(Log()[Log().size() - 2],
              (LogLine{8, "QORHT> DoRead() forced release failed for station 'A'"}));
    EXPECT_EQ(Log().back(), (LogLine{8, "QORHT> Single Read() , ret val is 2"}));
    EXPECT_EQ(context_.stations['A'].occupied, 0);
}

} // namespace
