#include "tests/integration/sim_process.h"

#include <cerrno>
#include <csignal>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace integration {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

} // namespace

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        Stop(SIGTERM);
    }
    if (stdinFd_ >= 0) {
        close(stdinFd_);
    }
    if (stdoutFd_ >= 0) {
        close(stdoutFd_);
    }
}

bool SimProcess::Start(const std::vector<std::string> &arguments, const std::string &errorFile,
                       bool waitForPath) {
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0) {
        return false;
    }
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return false;
    }
    const int error = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<std::string> argv{HTSIM_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char *> pointers;
    for (std::string &argument : argv) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(input[0], STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        if (error >= 0) {
            dup2(error, STDERR_FILENO);
        }
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    if (error >= 0) {
        close(error);
    }
    stdinFd_ = input[1];
    stdoutFd_ = output[0];
    if (pid_ < 0) {
        return false;
    }
    if (!waitForPath) {
        return true;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    std::string line;
    while (line.find('\n') == std::string::npos) {
        pollfd entry{stdoutFd_, POLLIN, 0};
        if (poll(&entry, 1, MillisecondsLeft(deadline)) <= 0) {
            return false;
        }
        char buffer[256];
        const ssize_t n = read(stdoutFd_, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        line.append(buffer, static_cast<size_t>(n));
    }
    slavePath_ = line.substr(0, line.find('\n'));
    return slavePath_.rfind("/dev/", 0) == 0;
}

std::string SimProcess::PortName() const {
    return slavePath_.rfind("/dev/", 0) == 0 ? slavePath_.substr(5) : slavePath_;
}

void SimProcess::CloseInput() {
    if (stdinFd_ >= 0) {
        close(stdinFd_);
        stdinFd_ = -1;
    }
}

int SimProcess::Wait(std::chrono::milliseconds deadline) {
    if (pid_ <= 0) {
        return -1;
    }
    const auto end = Clock::now() + deadline;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            return status;
        }
        if (done < 0 && errno != EINTR) {
            pid_ = -1;
            return -1;
        }
        if (Clock::now() >= end) {
            return -1;
        }
        // A short bounded wait between looks; the exit itself is what ends it.
        poll(nullptr, 0, 5);
    }
}

int SimProcess::Stop(int signal, std::chrono::milliseconds deadline) {
    if (pid_ <= 0) {
        return -1;
    }
    kill(pid_, signal);
    const int status = Wait(deadline);
    if (status == -1 && pid_ > 0) {
        kill(pid_, SIGKILL);
        int ignored = 0;
        waitpid(pid_, &ignored, 0);
        pid_ = -1;
    }
    return status;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace integration
