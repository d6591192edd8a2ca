#include "simulator.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace htpoll {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void CloseFd(int &fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// Waits for the child to end, at most until the deadline. SIGCHLD is not
// caught, so the wait is a bounded series of non-blocking waitpid calls.
bool ReapBefore(pid_t pid, Clock::time_point deadline) {
    for (;;) {
        pid_t done = waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD)) {
            return true;
        }
        if (RemainingMs(deadline) == 0) {
            return false;
        }
        poll(nullptr, 0, 10);
    }
}

std::string DescribeStatus(int status) {
    if (WIFEXITED(status)) {
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return std::string("was killed by signal ") + strsignal(WTERMSIG(status));
    }
    return "ended";
}

} // namespace

bool Simulator::Start(const std::string &program, const std::vector<std::string> &arguments,
                      int deadlineMs, std::string &error) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        close(toChild[0]);
        close(toChild[1]);
        return false;
    }
    std::vector<std::string> words;
    words.push_back(program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) {
        error = std::string("cannot fork: ") + std::strerror(errno);
        for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) {
            close(fd);
        }
        return false;
    }
    if (pid == 0) {
        // A process group of its own: Ctrl-C at the terminal reaches htpoll,
        // which then ends the session in order and stops the simulator.
        setpgid(0, 0);
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    pid_ = pid;
    stdinFd_ = toChild[1];
    stdoutFd_ = fromChild[0];

    std::string line;
    auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    for (;;) {
        pollfd readable{stdoutFd_, POLLIN, 0};
        int ready = poll(&readable, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            error = "htsim did not print its port within " + std::to_string(deadlineMs) + " ms";
            Stop();
            return false;
        }
        char c = 0;
        ssize_t got = read(stdoutFd_, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
            error = "htsim " + DescribeStatus(status) + " before printing its port";
            Stop();
            return false;
        }
        if (c == '\n') {
            break;
        }
        line.push_back(c);
        if (line.size() > 4096) {
            error = "htsim printed no port on its first line";
            Stop();
            return false;
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (line.empty() || line[0] != '/') {
        error = "htsim printed '" + line + "' where its port path was expected";
        Stop();
        return false;
    }
    devicePath_ = line;
    return true;
}

void Simulator::Stop() {
    CloseFd(stdinFd_);
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        if (!ReapBefore(pid_, Clock::now() + std::chrono::seconds(5))) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }
    CloseFd(stdoutFd_);
}

} // namespace htpoll
