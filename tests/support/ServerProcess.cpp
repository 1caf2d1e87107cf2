#include "support/ServerProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <regex>
#include <stdexcept>
#include <utility>

namespace murmur::test {
namespace {

using Clock = std::chrono::steady_clock;

std::optional<std::string> afterStamp(const std::string& line) {
    static const std::regex stamp(R"(\[([01]\d|2[0-3]):[0-5]\d:[0-5]\d\] )");
    if (line.size() < 11 || !std::regex_match(line.substr(0, 11), stamp)) return std::nullopt;
    return line.substr(11);
}

}  // namespace

ServerProcess::ServerProcess(const std::string& dataDirectory, const std::vector<std::string>& options) {
    std::vector<std::string> arguments{"--headless", "--dir", dataDirectory, "--color", "never"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    start(arguments);
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0 && !reap()) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_})
        if (fd >= 0) ::close(fd);
}

void ServerProcess::start(std::vector<std::string> arguments, std::optional<uid_t> user) {
    // A console entry written after the child has gone must fail, not end the test run.
    ::signal(SIGPIPE, SIG_IGN);
    int pipes[3][2];  // standard input, output and error; end 1 is the child's
    for (auto& p : pipes)
        if (::pipe2(p, O_CLOEXEC)) throw std::runtime_error("pipe failed");
    std::swap(pipes[0][0], pipes[0][1]);  // the child reads its standard input
    arguments.insert(arguments.begin(), MURMUR_SERVER_PATH);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        for (int i = 0; i < 3; ++i) ::dup2(pipes[i][1], i);
        ::signal(SIGPIPE, SIG_DFL);
        if (user && (::setgroups(0, nullptr) != 0 || ::setgid(*user) != 0 || ::setuid(*user) != 0)) ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid_ < 0) throw std::runtime_error("fork failed");
    for (auto& p : pipes) ::close(p[1]);
    in_ = pipes[0][0];
    out_ = pipes[1][0];
    err_ = pipes[2][0];
}

void ServerProcess::pump(std::chrono::milliseconds timeout) {
    // poll skips a closed (negative) descriptor, and with both closed it only waits.
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(timeout.count())) <= 0) return;
    for (int i = 0; i < 2; ++i) {
        char buffer[65536];
        ssize_t n = fds[i].revents ? ::read(fds[i].fd, buffer, sizeof buffer) : -1;
        if (n > 0) {
            (i == 0 ? partial_ : errors_).append(buffer, static_cast<std::size_t>(n));
        } else if (fds[i].revents && (n == 0 || errno != EINTR)) {
            ::close(fds[i].fd);
            (i == 0 ? out_ : err_) = -1;
            if (i == 0 && !partial_.empty()) partial_ += '\n';  // an unended last line still counts
        }
    }
    for (std::size_t nl; (nl = partial_.find('\n')) != std::string::npos; partial_.erase(0, nl + 1))
        lines_.push_back(partial_.substr(0, nl));
}

std::optional<std::string> ServerProcess::waitFor(const std::function<bool(const std::string&)>& matches,
                                                  std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        for (std::size_t i = next_; i < lines_.size(); ++i)
            if (matches(lines_[i])) {
                next_ = i + 1;
                return lines_[i];
            }
        if (out_ < 0 || Clock::now() >= deadline) return std::nullopt;
        pump(timeLeft(deadline));
    }
}

std::optional<std::string> ServerProcess::waitForLine(const std::string& part, std::chrono::milliseconds timeout) {
    return waitFor([&](const std::string& line) { return line.find(part) != std::string::npos; }, timeout);
}

std::optional<std::string> ServerProcess::waitForText(const std::string& text) {
    return waitFor([&](const std::string& line) { return afterStamp(line) == text; });
}

std::optional<std::string> ServerProcess::nextText() {
    auto line = waitFor([](const std::string&) { return true; });
    return line ? afterStamp(*line) : std::nullopt;
}

std::string ServerProcess::output() const {
    std::string out;
    for (const auto& line : lines_) out += line + "\n";
    return out;
}

std::string ServerProcess::transcript() const {
    std::string out = "standard output:\n";
    for (const auto& line : lines_) out += "  | " + line + "\n";
    return out + "  | " + partial_ + "\nstandard error:\n" + errors_;
}

void ServerProcess::sendConsole(const std::string& text) {
    // A console entry is shorter than a pipe holds: one write takes it whole.
    std::string bytes = text + "\n";
    if (::write(in_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("console write failed");
}

void ServerProcess::closeStdin() {
    ::close(in_);
    in_ = -1;
}

bool ServerProcess::reap() {
    int status = 0;
    if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_)
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_.has_value();
}

std::optional<int> ServerProcess::waitForExit(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (!reap()) {
        if (Clock::now() >= deadline) return std::nullopt;
        pump(20ms);  // reading, so that a child blocked on a full pipe can still end
    }
    // What it wrote just before the end is part of the record.
    for (deadline = Clock::now() + 1s; (out_ >= 0 || err_ >= 0) && Clock::now() < deadline;) pump(100ms);
    return status_;
}

std::optional<int> ServerProcess::terminate() {
    if (!reap()) ::kill(pid_, SIGTERM);
    return waitForExit();
}

int freePort() {
    // Test programs running side by side start at places of their own, and so stay apart.
    static std::atomic<int> offset{static_cast<int>((::getpid() * 7919) % 12000)};
    for (int attempt = 0; attempt < 2000; ++attempt) {
        int port = 20000 + offset++ % 12000;
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (free) return port;
    }
    throw std::runtime_error("no free port below 32768");
}

}  // namespace murmur::test
