// A pseudo-terminal pair for tests of the serial layer: the driver opens the
// slave as its port, the test plays the controller on the master.
#pragma once

#include <string>

namespace testing_support {

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool ok() const { return master_ >= 0; }
    int master() const { return master_; }
    // "/dev/pts/N" and the same device as the driver names it, "pts/N".
    const std::string &path() const { return path_; }
    const std::string &name() const { return name_; }

    // Writes all of `bytes` to the master; false on failure.
    bool Write(const std::string &bytes);
    // Reads from the master until `count` bytes arrived or `timeoutMs` ran out
    // (poll with a deadline); returns what arrived.
    std::string Read(size_t count, int timeoutMs);
    // Closes the master, as when the far end goes away.
    void CloseMaster();

private:
    int master_ = -1;
    std::string path_;
    std::string name_;
};

} // namespace testing_support
