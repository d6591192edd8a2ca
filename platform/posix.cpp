// The serial port operations on POSIX systems (Linux first): a port handle is
// the file descriptor of the open device.
//
// The driver's logic was laid out for the Win32 serial interface, so this
// layer reproduces what the driver relies on there: an exclusive open of an
// existing device, a line configuration that ignores what the device refuses,
// and reads and writes that end after one total time-out per port.
#include "platform/line_trace.h"
#include "platform/platform.h"

#include <algorithm>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace platform {
namespace {

// The host's names are at most 11 characters; only the open adds "/dev/".
constexpr size_t kMaxNameLength = 11;
constexpr char kDevicePrefix[] = "/dev/";
constexpr uint32_t kDefaultTimeoutMs = 1000;

// Handles are descriptors; 0 is "no port" and anything beyond int is not ours.
bool ToDescriptor(PortHandle port, int &fd) {
    if (port == 0 || port > static_cast<PortHandle>(INT_MAX)) {
        return false;
    }
    fd = static_cast<int>(port);
    return true;
}

// The time-out in effect, per open port. Termios cannot express a total
// time-out (VTIME is an inter-byte timer in tenths of a second), so reads and
// writes look it up here. A port missing from the table (more ports open than
// slots) works with the default.
struct TimeoutSlot {
    int fdPlusOne; // 0: free slot
    uint32_t milliseconds;
};
constexpr size_t kTimeoutSlots = 256; // as many as the port registry holds
TimeoutSlot timeoutSlots[kTimeoutSlots];

// Guards the table: a spin lock rather than std::mutex, which may throw, and
// nothing may be thrown towards the host. Each critical section is a scan of
// the table without a system call.
std::atomic_flag timeoutLock = ATOMIC_FLAG_INIT;
class TimeoutTableLock {
public:
    TimeoutTableLock() {
        while (timeoutLock.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~TimeoutTableLock() { timeoutLock.clear(std::memory_order_release); }
    TimeoutTableLock(const TimeoutTableLock &) = delete;
    TimeoutTableLock &operator=(const TimeoutTableLock &) = delete;
};

void StoreTimeout(int fd, uint32_t milliseconds) {
    TimeoutTableLock lock;
    TimeoutSlot *free = nullptr;
    for (TimeoutSlot &slot : timeoutSlots) {
        if (slot.fdPlusOne == fd + 1) {
            slot.milliseconds = milliseconds;
            return;
        }
        if (slot.fdPlusOne == 0 && free == nullptr) {
            free = &slot;
        }
    }
    if (free != nullptr) {
        *free = {fd + 1, milliseconds};
    }
}

void ForgetTimeout(int fd) {
    TimeoutTableLock lock;
    for (TimeoutSlot &slot : timeoutSlots) {
        if (slot.fdPlusOne == fd + 1) {
            slot = {0, 0};
        }
    }
}

uint32_t TimeoutOf(int fd) {
    TimeoutTableLock lock;
    for (const TimeoutSlot &slot : timeoutSlots) {
        if (slot.fdPlusOne == fd + 1) {
            return slot.milliseconds;
        }
    }
    return kDefaultTimeoutMs;
}

int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Milliseconds left until `deadline`, rounded up so that poll never wakes
// before it (a rounded-down wait would spin through the last millisecond).
int RemainingMilliseconds(int64_t deadline) {
    int64_t left = deadline - MonotonicNanoseconds();
    if (left <= 0) {
        return 0;
    }
    int64_t ms = (left + 999'999) / 1'000'000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Waits for `events` until the deadline. Returns the poll result (0 when the
// time is up) and the events seen; EINTR waits on with the time that is left.
int WaitFor(int fd, short events, int64_t deadline, short &revents) {
    for (;;) {
        pollfd entry{fd, events, 0};
        int ready = poll(&entry, 1, RemainingMilliseconds(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0 && RemainingMilliseconds(deadline) > 0) {
            continue; // woke early; wait for the rest
        }
        revents = entry.revents;
        return ready;
    }
}

struct SpeedCode {
    uint16_t baud;
    speed_t code;
};

// The speeds that a 16-bit baud rate can name and termios has a constant for.
constexpr SpeedCode kSpeeds[] = {
    {50, B50},     {75, B75},       {110, B110},     {134, B134},     {150, B150},   {200, B200},
    {300, B300},   {600, B600},     {1200, B1200},   {1800, B1800},   {2400, B2400}, {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600},
};

bool SpeedFor(uint16_t baud, speed_t &code) {
    for (const SpeedCode &speed : kSpeeds) {
        if (speed.baud == baud) {
            code = speed.code;
            return true;
        }
    }
    return false;
}

} // namespace

PortHandle OpenPort(const char *name) {
    if (name == nullptr) {
        return 0;
    }
    size_t length = strnlen(name, kMaxNameLength + 1);
    if (length == 0 || length > kMaxNameLength) {
        return 0;
    }
    char path[sizeof kDevicePrefix + kMaxNameLength];
    size_t used = 0;
    if (name[0] != '/') {
        std::memcpy(path, kDevicePrefix, sizeof kDevicePrefix - 1);
        used = sizeof kDevicePrefix - 1;
    }
    std::memcpy(path + used, name, length);
    path[used + length] = '\0';

    // Non-blocking so that the open does not wait for carrier, and so that
    // every later wait is a poll with a deadline.
    int fd;
    do {
        fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return 0;
    }
    // Only a device: a regular file by that name would have the telegrams
    // written into it.
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
        close(fd);
        return 0;
    }
    // 0 means "no port" to the host, and a port on 1 or 2 would receive
    // whatever the process prints to its standard streams.
    if (fd <= STDERR_FILENO) {
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        close(fd);
        if (moved < 0) {
            return 0;
        }
        fd = moved;
    }
    // The lock holds against every other open description of the device, root
    // and this very process included, which TIOCEXCL alone does not.
    int locked;
    do {
        locked = flock(fd, LOCK_EX | LOCK_NB);
    } while (locked < 0 && errno == EINTR);
    if (locked < 0) {
        close(fd);
        return 0;
    }
    // Also keeps out programs that open the device without flock. Cleared
    // again before the close: on a pty slave it would outlive the close.
    ioctl(fd, TIOCEXCL);
    StoreTimeout(fd, kDefaultTimeoutMs);
    return static_cast<PortHandle>(fd);
}

// Linux offers no way to size a tty's queues from user space (its buffers are
// fixed by the driver), and the driver never needs more than one telegram
// buffered, so this is deliberately empty.
void SetQueues(PortHandle, uint32_t, uint32_t) {}

void ConfigureLine(PortHandle port, const LineSettings &settings) {
    int fd;
    if (!ToDescriptor(port, fd)) {
        return;
    }
    termios line{};
    if (tcgetattr(fd, &line) != 0) {
        return; // not a terminal, or gone: leave it as it is
    }
    speed_t readSpeed = cfgetospeed(&line);

    // Raw bytes both ways: no echo, no line editing, no signals, no CR/LF
    // translation, no XON/XOFF. Parity and character size follow below.
    line.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                           IXOFF | IXANY);
    line.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    line.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    line.c_cflag |= CLOCAL | CREAD;
    // One byte satisfies a read, so a ready descriptor never reads zero bytes
    // except at end of line.
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;

    speed_t speed;
    bool speedKnown = SpeedFor(settings.baudRate, speed);
    if (speedKnown) {
        cfsetispeed(&line, speed);
        cfsetospeed(&line, speed);
    }

    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    unsigned dataBits = settings.dataBits & 0xFFu;
    if (dataBits >= 5 && dataBits <= 8) {
        line.c_cflag = (line.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | kSizes[dataBits - 5];
    }

    // Stop bits 1 (one and a half) has no termios form: the device refuses
    // it and keeps what it had.
    switch (settings.stopBits & 0xFFu) {
    case 0:
        line.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
        break;
    case 2:
        line.c_cflag |= CSTOPB;
        break;
    default:
        break;
    }

    constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;
    tcflag_t parity = 0;
    bool parityKnown = true;
    switch (settings.parity & 0xFFu) {
    case 0: // none
        break;
    case 1: // odd
        parity = PARENB | PARODD;
        break;
    case 2: // even
        parity = PARENB;
        break;
    case 3: // mark: sticky parity bit 1
        parity = PARENB | CMSPAR | PARODD;
        break;
    case 4: // space: sticky parity bit 0
        parity = PARENB | CMSPAR;
        break;
    default:
        parityKnown = false;
        break;
    }
    if (parityKnown) {
        line.c_cflag = (line.c_cflag & ~kParityBits) | parity;
    }
    // Checking follows the whole 16-bit value (0x0100 checks with scheme 0).
    // A byte with a parity error is neither marked nor dropped: the kernel
    // hands it on as a NUL, which the frame's checksum then refuses, as it
    // would refuse the damaged byte itself.
    line.c_iflag &= ~static_cast<tcflag_t>(PARMRK | IGNPAR | INPCK);
    if (settings.parity != 0) {
        line.c_iflag |= INPCK;
    }

#ifdef CRTSCTS
    // Transmission waits for CTS; the write time-out keeps that bounded. It
    // also holds RTS for reception, the nearest termios has to "RTS on".
    line.c_cflag |= CRTSCTS;
#endif

    if (tcsetattr(fd, TCSANOW, &line) != 0 && speedKnown) {
        // The speed is what a device most often refuses: keep the rest.
        cfsetispeed(&line, readSpeed);
        cfsetospeed(&line, readSpeed);
        tcsetattr(fd, TCSANOW, &line);
    }

    // DTR and RTS on while the port is open. A pty has no modem lines and
    // refuses the call, which changes nothing.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);
}

void SetTimeouts(PortHandle port, uint32_t milliseconds) {
    int fd;
    if (ToDescriptor(port, fd)) {
        StoreTimeout(fd, milliseconds);
    }
}

void Purge(PortHandle port) {
    int fd;
    if (ToDescriptor(port, fd)) {
        // Input only. WritePort returns once its bytes have left the output
        // queue or its time-out ran out; whatever is still queued after that
        // (a frame held back by CTS) is discarded by no one on Win32 either
        // before it goes out, and flushing it here would cut the NAK that
        // the engine sends right before the next attempt's purge.
        tcflush(fd, TCIFLUSH);
    }
}

void ClosePort(PortHandle port) {
    int fd;
    if (!ToDescriptor(port, fd)) {
        return;
    }
    ioctl(fd, TIOCNXCL);
    // Unlocked explicitly: a forked child may still hold a copy of the
    // descriptor, which would otherwise keep the device locked.
    flock(fd, LOCK_UN);
    ForgetTimeout(fd);
    // Not retried on EINTR: Linux has released the descriptor either way.
    close(fd);
}

namespace {

// Microseconds one character takes on the line at the port's output speed
// (ten bits a character; 1 ms when the speed is unknown).
int64_t CharacterMicroseconds(int fd) {
    termios line{};
    if (tcgetattr(fd, &line) != 0) {
        return 1000;
    }
    static const struct {
        speed_t code;
        int64_t baud;
    } kSpeeds[] = {{B50, 50},        {B75, 75},       {B110, 110},     {B134, 134},
                   {B150, 150},      {B200, 200},     {B300, 300},     {B600, 600},
                   {B1200, 1200},    {B1800, 1800},   {B2400, 2400},   {B4800, 4800},
                   {B9600, 9600},    {B19200, 19200}, {B38400, 38400}, {B57600, 57600},
                   {B115200, 115200}};
    const speed_t speed = cfgetospeed(&line);
    for (const auto &entry : kSpeeds) {
        if (entry.code == speed) {
            return 10'000'000 / entry.baud;
        }
    }
    return 1000;
}

// A write is done when its bytes are on the line, as on Win32, not when the
// kernel has queued them: the reply time-out of the read that follows must
// not run while the telegram is still going out. Sleeps for the line time of
// what is still queued, never past the write time-out. A pseudo-terminal has
// no output queue and returns at once. Returns the bytes still unsent when
// the time-out ran out (CTS held the line): like a timed-out write on Win32,
// they are discarded and do not count as written.
uint32_t WaitUntilSent(int fd, int64_t deadline) {
    int64_t characterMicroseconds = -1;
    for (;;) {
        int pending = 0;
        if (ioctl(fd, TIOCOUTQ, &pending) != 0 || pending <= 0) {
            return 0;
        }
        const int64_t left = RemainingMilliseconds(deadline);
        if (left == 0) {
            tcflush(fd, TCOFLUSH);
            return static_cast<uint32_t>(pending);
        }
        if (characterMicroseconds < 0) {
            characterMicroseconds = CharacterMicroseconds(fd);
        }
        int64_t waitMicroseconds = std::max<int64_t>(pending * characterMicroseconds, 1000);
        waitMicroseconds = std::min<int64_t>(waitMicroseconds, left * 1000);
        timespec wait{static_cast<time_t>(waitMicroseconds / 1'000'000),
                      static_cast<long>(waitMicroseconds % 1'000'000) * 1000L};
        nanosleep(&wait, nullptr);
    }
}

} // namespace

int32_t WritePort(PortHandle port, const void *data, uint32_t count) {
    int fd;
    if (!ToDescriptor(port, fd) || (data == nullptr && count != 0)) {
        return -1;
    }
    if (count > static_cast<uint32_t>(INT32_MAX)) {
        count = INT32_MAX;
    }
    const auto *bytes = static_cast<const unsigned char *>(data);
    int64_t deadline = MonotonicNanoseconds() + static_cast<int64_t>(TimeoutOf(fd)) * 1'000'000;
    uint32_t sent = 0;
    bool failed = false;
    for (bool first = true; sent < count; first = false) {
        if (!first && RemainingMilliseconds(deadline) == 0) {
            break;
        }
        ssize_t n = write(fd, bytes + sent, count - sent);
        if (n > 0) {
            sent += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            failed = true; // EIO: the other end or the adapter is gone
            break;
        }
        short revents = 0;
        int ready = WaitFor(fd, POLLOUT, deadline, revents);
        if (ready < 0) {
            failed = true;
            break;
        }
        if (ready == 0) {
            break; // write time-out: report what went out
        }
        if ((revents & POLLOUT) == 0) {
            failed = true; // POLLHUP, POLLERR or POLLNVAL without room
            break;
        }
    }
    if (!failed) {
        const uint32_t unsent = WaitUntilSent(fd, deadline);
        sent -= std::min(unsent, sent);
    }
    TraceBytes(TraceDirection::Out, bytes, sent);
    if (sent == 0 && failed) {
        return -1;
    }
    return static_cast<int32_t>(sent);
}

int32_t ReadPort(PortHandle port, void *data, uint32_t count) {
    int fd;
    if (!ToDescriptor(port, fd) || (data == nullptr && count != 0)) {
        return -1;
    }
    if (count > static_cast<uint32_t>(INT32_MAX)) {
        count = INT32_MAX;
    }
    auto *bytes = static_cast<unsigned char *>(data);
    int64_t deadline = MonotonicNanoseconds() + static_cast<int64_t>(TimeoutOf(fd)) * 1'000'000;
    uint32_t got = 0;
    bool failed = false;
    // The time-out counts for the whole read, however the bytes come; only
    // the first round looks at the line even when no time is left.
    for (bool first = true; got < count; first = false) {
        if (!first && RemainingMilliseconds(deadline) == 0) {
            break;
        }
        short revents = 0;
        int ready = WaitFor(fd, POLLIN, deadline, revents);
        if (ready < 0) {
            failed = true;
            break;
        }
        if (ready == 0) {
            break; // read time-out: hand over what arrived
        }
        if ((revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) == 0) {
            continue;
        }
        ssize_t n = read(fd, bytes + got, count - got);
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) &&
            (revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) {
            continue;
        }
        // Ready yet nothing to read: end of line (a pty whose other side
        // closed, an adapter unplugged). poll would go on reporting it, so
        // waiting on would only spin: the read fails here.
        failed = true;
        break;
    }
    if (got > 0) {
        TraceBytes(TraceDirection::In, bytes, got);
        return static_cast<int32_t>(got);
    }
    return failed ? -1 : 0;
}

void SleepMilliseconds(uint32_t milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1'000'000L};
    timespec left{};
    while (nanosleep(&wait, &left) != 0 && errno == EINTR) {
        wait = left;
    }
}

int64_t CalendarSeconds() {
    return static_cast<int64_t>(std::time(nullptr));
}

} // namespace platform
