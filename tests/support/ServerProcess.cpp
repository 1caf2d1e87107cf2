// The real program as a child process.
#include "support/ServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include "support/ServerFixture.h"

#ifndef MURMUR_SERVER_PATH
#error "MURMUR_SERVER_PATH must name the server binary"
#endif

namespace murmur::test {
namespace {

using Clock = std::chrono::steady_clock;

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

int decodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

ServerProcess::ServerProcess(const std::string& dataDirectory, const std::vector<std::string>& extra) {
    std::vector<std::string> arguments{"--headless", "--dir", dataDirectory, "--color", "never"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    start(arguments);
}

ServerProcess::ServerProcess(ExactArguments, const std::vector<std::string>& arguments) { start(arguments); }

ServerProcess::~ServerProcess() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        reap(true);
    }
    closeFd(stdin_);
    closeFd(stdout_);
    closeFd(stderr_);
}

void ServerProcess::start(const std::vector<std::string>& arguments) {
    // A console entry written after the child has gone must fail, not end the test run.
    ::signal(SIGPIPE, SIG_IGN);

    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));

    std::vector<std::string> argvStrings{MURMUR_SERVER_PATH};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid_ == 0) {
        // dup2 clears close-on-exec on the copies; every other descriptor of the test is closed by exec.
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::signal(SIGPIPE, SIG_DFL);
        ::execv(argv[0], argv.data());
        const char message[] = "exec of the server failed\n";
        [[maybe_unused]] auto n = ::write(STDERR_FILENO, message, sizeof message - 1);
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    stderr_ = err[0];
    ::fcntl(stdout_, F_SETFL, ::fcntl(stdout_, F_GETFL) | O_NONBLOCK);
    ::fcntl(stderr_, F_SETFL, ::fcntl(stderr_, F_GETFL) | O_NONBLOCK);
}

void ServerProcess::pump(std::chrono::milliseconds timeout) {
    pollfd fds[2];
    nfds_t count = 0;
    if (stdout_ >= 0) fds[count++] = {stdout_, POLLIN, 0};
    if (stderr_ >= 0) fds[count++] = {stderr_, POLLIN, 0};
    if (count == 0) return;
    int ready = ::poll(fds, count, static_cast<int>(timeout.count()));
    if (ready <= 0) return;
    for (nfds_t i = 0; i < count; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        bool isOut = fds[i].fd == stdout_;
        char buffer[4096];
        for (;;) {
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (isOut ? partial_ : errors_).append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) {
                if (isOut) {
                    closeFd(stdout_);
                    takeLines(true);
                } else {
                    closeFd(stderr_);
                }
            }
            break;
        }
        if (isOut) takeLines(false);
    }
}

void ServerProcess::takeLines(bool atEnd) {
    std::size_t start = 0;
    for (std::size_t nl; (nl = partial_.find('\n', start)) != std::string::npos; start = nl + 1)
        lines_.push_back(partial_.substr(start, nl - start));
    partial_.erase(0, start);
    if (atEnd && !partial_.empty()) {
        lines_.push_back(partial_);
        partial_.clear();
    }
}

std::optional<std::string> ServerProcess::waitForLine(const std::function<bool(const std::string&)>& matches,
                                                      std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        for (std::size_t i = nextUnmatched_; i < lines_.size(); ++i) {
            if (matches(lines_[i])) {
                nextUnmatched_ = i + 1;
                return lines_[i];
            }
        }
        if (stdout_ < 0 || Clock::now() >= deadline) return std::nullopt;
        pump(std::chrono::milliseconds(remainingMs(deadline)));
    }
}

std::optional<std::string> ServerProcess::waitForLine(const std::string& part, std::chrono::milliseconds timeout) {
    return waitForLine([&](const std::string& line) { return line.find(part) != std::string::npos; }, timeout);
}

std::optional<std::string> ServerProcess::waitForText(const std::string& text, std::chrono::milliseconds timeout) {
    return waitForLine([&](const std::string& line) { return textAfterTimestamp(line) == text; }, timeout);
}

std::optional<std::string> ServerProcess::nextLine(std::chrono::milliseconds timeout) {
    return waitForLine([](const std::string&) { return true; }, timeout);
}

std::string ServerProcess::transcript() const {
    std::string out = "standard output:\n";
    for (const auto& line : lines_) out += "  | " + line + "\n";
    if (!partial_.empty()) out += "  | " + partial_ + "  (no line end yet)\n";
    out += "standard error:\n" + errors_;
    return out;
}

void ServerProcess::sendConsole(const std::string& text) {
    if (stdin_ < 0) throw std::logic_error("standard input is already closed");
    std::string bytes = text + "\n";
    std::size_t at = 0;
    while (at < bytes.size()) {
        ssize_t n = ::write(stdin_, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error(std::string("console write: ") + std::strerror(errno));
        at += static_cast<std::size_t>(n);
    }
}

void ServerProcess::closeStdin() { closeFd(stdin_); }

bool ServerProcess::reap(bool block) {
    if (status_) return true;
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done != pid_) return false;
    status_ = decodeStatus(status);
    return true;
}

bool ServerProcess::running() {
    pump(0ms);
    return !reap(false);
}

std::optional<int> ServerProcess::waitForExit(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (!reap(false)) {
        if (Clock::now() >= deadline) return std::nullopt;
        // The pipes close only when the child is gone, and then nothing is left to poll: check
        // the child often enough either way.
        if (stdout_ >= 0 || stderr_ >= 0) pump(std::chrono::milliseconds(std::min(remainingMs(deadline), 20)));
        else ::usleep(10000);
    }
    // What it wrote just before the end is part of the record.
    while (stdout_ >= 0 || stderr_ >= 0) {
        if (Clock::now() >= deadline + 1s) break;
        pump(100ms);
    }
    return status_;
}

std::optional<int> ServerProcess::terminate(std::chrono::milliseconds timeout) {
    if (!status_) ::kill(pid_, SIGTERM);
    return waitForExit(timeout);
}

bool hasTimestamp(const std::string& line) {
    if (line.size() < kTimestampLength) return false;
    const char* shape = "[00:00:00] ";
    for (std::size_t i = 0; i < kTimestampLength; ++i) {
        char c = line[i];
        if (shape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(c)) : c != shape[i]) return false;
    }
    auto two = [&](std::size_t at) { return (line[at] - '0') * 10 + (line[at + 1] - '0'); };
    return two(1) < 24 && two(4) < 60 && two(7) < 60;
}

std::optional<std::string> textAfterTimestamp(const std::string& line) {
    if (!hasTimestamp(line)) return std::nullopt;
    return line.substr(kTimestampLength);
}

int freePort() {
    // Tests of several processes may pick ports at the same time; starting at a place of their
    // own keeps them apart.
    static std::atomic<int> offset{static_cast<int>((::getpid() * 7919) % 12000)};
    for (int attempt = 0; attempt < 2000; ++attempt) {
        int port = 20000 + (offset++ % 12000);
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (free) return port;
    }
    throw std::runtime_error("no free port below 32768");
}

void writeConfig(const TempDir& dir, int port, const std::string& extra) {
    dir.write("MMConf.ini", "[Server]\r\nPort=" + std::to_string(port) + "\r\n" + extra);
}

}  // namespace murmur::test
