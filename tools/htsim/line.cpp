#include "line.h"

#include "frames.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace htsim {
namespace {

speed_t SpeedConstant(long baud) {
    struct Pair {
        long baud;
        speed_t speed;
    };
    static const Pair kSpeeds[] = {
        {50, B50},       {75, B75},         {110, B110},       {134, B134},     {150, B150},
        {200, B200},     {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
        {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
        {57600, B57600}, {115200, B115200}, {230400, B230400},
    };
    for (const Pair &pair : kSpeeds) {
        if (pair.baud == baud) {
            return pair.speed;
        }
    }
    return B0;
}

void MakeRaw(termios &t, const LineFormat &format) {
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~CMSPAR;
#endif
    switch (format.dataBits) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    default:
        t.c_cflag |= CS8;
    }
    switch (format.parity) {
    case 'O':
        t.c_cflag |= PARENB | PARODD;
        break;
    case 'E':
        t.c_cflag |= PARENB;
        break;
#ifdef CMSPAR
    case 'M':
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case 'S':
        t.c_cflag |= PARENB | CMSPAR;
        break;
#endif
    default:
        break;
    }
    if (format.stopBits == 2) {
        t.c_cflag |= CSTOPB;
    }
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    speed_t speed = SpeedConstant(format.baud > 0 ? format.baud : 19200);
    if (speed != B0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
}

} // namespace

int BitsPerCharacter(const LineFormat &format) {
    return 1 + format.dataBits + (format.parity == 'N' ? 0 : 1) + format.stopBits;
}

Micros CharacterTime(const LineFormat &format) {
    if (format.baud <= 0) {
        return 0;
    }
    return std::max<Micros>(1, BitsPerCharacter(format) * 1000000LL / format.baud);
}

bool OpenPseudoTerminal(Endpoint &endpoint, std::string &error) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        if (master >= 0) {
            close(master);
        }
        return false;
    }
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) {
        error = std::string("ptsname: ") + std::strerror(errno);
        close(master);
        return false;
    }
    // Raw mode on the slave through the master, so that nothing the host
    // sends is echoed or translated before the host configures the port.
    termios t{};
    if (tcgetattr(master, &t) == 0) {
        MakeRaw(t, LineFormat{});
        tcsetattr(master, TCSANOW, &t);
    }
    // Holding a slave descriptor keeps the master from seeing a hang-up
    // each time the host closes the port, and keeps its data queued.
    int hold = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (hold < 0) {
        error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        close(master);
        return false;
    }
    if (tcgetattr(hold, &t) == 0) {
        MakeRaw(t, LineFormat{});
        tcsetattr(hold, TCSANOW, &t);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(hold, F_SETFD, FD_CLOEXEC);
    endpoint.fd = master;
    endpoint.holdFd = hold;
    endpoint.path = name;
    return true;
}

bool OpenDevice(const std::string &path, const LineFormat &format, Endpoint &endpoint,
                std::string &error) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        error = path + " is not a serial device: " + std::strerror(errno);
        close(fd);
        return false;
    }
    if (format.baud > 0 && SpeedConstant(format.baud) == B0) {
        error = "baud rate " + std::to_string(format.baud) + " not supported by " + path;
        close(fd);
        return false;
    }
    MakeRaw(t, format);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        error = "cannot configure " + path + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    tcflush(fd, TCIOFLUSH);
    endpoint.fd = fd;
    endpoint.path = path;
    return true;
}

void Line::Enqueue(Chunk chunk) {
    if (!chunk.bytes.empty()) {
        queue_.push_back(Queued{std::move(chunk), 0});
    }
}

void Line::CancelHeld() {
    // A frame is dropped only as a whole, never once it has begun.
    std::deque<Queued> kept;
    for (Queued &queued : queue_) {
        if (!queued.chunk.cancellable || queued.chunk.frame == startedFrame_) {
            kept.push_back(std::move(queued));
        } else {
            trace_.Note(lastSeen_, "held-back frame dropped, the host spoke first: %s",
                        Visible(queued.chunk.bytes).c_str());
        }
    }
    queue_.swap(kept);
}

Micros Line::FrontCompletion() const {
    const Queued &front = queue_.front();
    Micros start = txFreeAt_;
    if (front.sent == 0) {
        start = std::max(txFreeAt_ + front.chunk.pauseBefore, front.chunk.notBefore);
    }
    return start + characterTime_;
}

void Line::Flush(Micros now) {
    lastSeen_ = std::max(lastSeen_, now);
    blocked_ = false;
    while (!queue_.empty()) {
        Queued &front = queue_.front();
        const Chunk &chunk = front.chunk;
        // When the character at `position` starts, given when the line is
        // free: the first one of a chunk waits for its pause and its
        // earliest moment.
        auto startOf = [&chunk](size_t position, Micros freeAt) {
            return position == 0 ? std::max(freeAt + chunk.pauseBefore, chunk.notBefore) : freeAt;
        };
        std::string due;
        Micros freeAt = txFreeAt_;
        for (size_t position = front.sent; position < chunk.bytes.size(); ++position) {
            const Micros completion = startOf(position, freeAt) + characterTime_;
            if (completion > now) {
                break;
            }
            due.push_back(chunk.bytes[position]);
            freeAt = completion;
        }
        if (due.empty()) {
            return;
        }
        const ssize_t written = write(fd_, due.data(), due.size());
        if (written <= 0) {
            // The characters stay queued: a full queue (EAGAIN) or, on a
            // device, a line that is down for the moment.
            blocked_ = written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            return;
        }
        // The line clock moves on by the characters the descriptor took.
        startedFrame_ = chunk.frame;
        for (ssize_t i = 0; i < written; ++i) {
            txFreeAt_ = startOf(front.sent, txFreeAt_) + characterTime_;
            ++front.sent;
        }
        if (front.sent < chunk.bytes.size()) {
            blocked_ = true;
            return;
        }
        trace_.Frame(now, "out", chunk.bytes);
        queue_.pop_front();
    }
}

bool Line::ReadAvailable(Micros now) {
    lastSeen_ = std::max(lastSeen_, now);
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            // Characters that came in one read were on the line one after
            // the other; each counts as arrived a character time after the
            // one before it.
            for (ssize_t i = 0; i < n; ++i) {
                rxFreeAt_ = std::max(rxFreeAt_, now) + characterTime_;
                received_.emplace_back(buffer[i], rxFreeAt_);
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

std::optional<std::pair<char, Micros>> Line::NextArrived(Micros now) {
    if (received_.empty() || received_.front().second > now) {
        return std::nullopt;
    }
    auto next = received_.front();
    received_.pop_front();
    return next;
}

std::optional<Micros> Line::NextDue() const {
    std::optional<Micros> due;
    if (!received_.empty()) {
        due = received_.front().second;
    }
    if (!queue_.empty() && !blocked_) {
        Micros completion = FrontCompletion();
        due = due ? std::min(*due, completion) : completion;
    }
    return due;
}

} // namespace htsim
