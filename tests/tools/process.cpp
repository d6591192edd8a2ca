#include "process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tool_tests {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::vector<char *> Argv(std::vector<std::string> &words) {
    std::vector<char *> argv;
    for (std::string &word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// Waits for `pid` until the deadline; returns true with `status` set when it
// ended.
bool WaitBefore(pid_t pid, Clock::time_point deadline, int &status) {
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return true;
        }
        if (done < 0 && errno != EINTR) {
            return true;
        }
        if (RemainingMs(deadline) == 0) {
            return false;
        }
        poll(nullptr, 0, 5);
    }
}

int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string> &command, const std::string &cwd,
                         int deadlineMs, const std::string &signalWhen, int signalNumber) {
    ProcessResult result;
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        result.err = "pipe failed";
        return result;
    }
    std::vector<std::string> words = command;
    std::vector<char *> argv = Argv(words);
    pid_t pid = fork();
    if (pid == 0) {
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open = 2;
    bool signalled = false;
    while (open > 0) {
        int ready = poll(fds, 2, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            result.timedOut = true;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(got));
                if (i == 0 && !signalWhen.empty() && !signalled &&
                    result.out.find(signalWhen) != std::string::npos) {
                    kill(pid, signalNumber);
                    signalled = true;
                }
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    if (result.timedOut || !WaitBefore(pid, deadline + std::chrono::seconds(1), status)) {
        result.timedOut = true;
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        result.exitCode = -1;
    } else {
        result.exitCode = ExitCode(status);
    }
    for (pollfd &fd : fds) {
        if (fd.fd >= 0) {
            close(fd.fd);
        }
    }
    return result;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

TempDir::TempDir() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/htpoll-test.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) != nullptr) {
        path_ = name.data();
    }
}

TempDir::~TempDir() {
    if (path_.empty()) {
        return;
    }
    nftw(
        path_.c_str(),
        [](const char *path, const struct stat *, int, struct FTW *) { return remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::Write(const std::string &name, const std::string &content) const {
    std::string path = path_ + "/" + name;
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file != nullptr) {
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }
    return path;
}

bool BackgroundProcess::Start(const std::vector<std::string> &command, int deadlineMs,
                              std::string &firstLine) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<std::string> words = command;
    std::vector<char *> argv = Argv(words);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    pid_ = pid;
    stdinFd_ = in[1];
    stdoutFd_ = out[0];
    firstLine.clear();
    auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    for (;;) {
        pollfd readable{stdoutFd_, POLLIN, 0};
        int ready = poll(&readable, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        char c = 0;
        if (ready <= 0 || read(stdoutFd_, &c, 1) != 1) {
            Stop();
            return false;
        }
        if (c == '\n') {
            return true;
        }
        firstLine.push_back(c);
    }
}

int BackgroundProcess::Stop() {
    if (stdinFd_ >= 0) {
        close(stdinFd_);
        stdinFd_ = -1;
    }
    int code = -1;
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        if (WaitBefore(pid_, Clock::now() + std::chrono::seconds(5), status)) {
            code = ExitCode(status);
        } else {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
    if (stdoutFd_ >= 0) {
        close(stdoutFd_);
        stdoutFd_ = -1;
    }
    return code;
}

} // namespace tool_tests
