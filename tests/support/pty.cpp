#include "tests/support/pty.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace testing_support {

Pty::Pty() {
    int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    char path[64];
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, path, sizeof path) != 0) {
        close(fd);
        return;
    }
    // Non-blocking so that a read past the end never hangs a test.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    master_ = fd;
    path_ = path;
    name_ = path_.compare(0, 5, "/dev/") == 0 ? path_.substr(5) : path_;
}

Pty::~Pty() {
    CloseMaster();
}

void Pty::CloseMaster() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

bool Pty::Write(const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd entry{master_, POLLOUT, 0};
            if (poll(&entry, 1, 1000) <= 0) {
                return false;
            }
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

std::string Pty::Read(size_t count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string got;
    while (got.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd entry{master_, POLLIN, 0};
        int ready = poll(&entry, 1, static_cast<int>(left.count()) + 1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (entry.revents & POLLIN) == 0) {
            break;
        }
        char buffer[256];
        size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
        ssize_t n = read(master_, buffer, want);
        if (n > 0) {
            got.append(buffer, static_cast<size_t>(n));
        } else if (!(n < 0 && (errno == EINTR || errno == EAGAIN))) {
            break;
        }
    }
    return got;
}

} // namespace testing_support
