// The real program as a child process: the test writes console entries to its standard input and
// reads its standard output by lines.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace murmur::test {

using namespace std::chrono_literals;

// Generous, so that a slow machine passes; only a failing test waits this long.
constexpr std::chrono::milliseconds kPatience = 10s;

inline std::chrono::milliseconds timeLeft(std::chrono::steady_clock::time_point deadline) {
    auto left = deadline - std::chrono::steady_clock::now();
    return std::max(0ms, std::chrono::duration_cast<std::chrono::milliseconds>(left));
}

class ServerProcess {
public:
    // murmur-server --headless --dir DIR --color never, then the options.
    explicit ServerProcess(const std::string& dataDirectory, const std::vector<std::string>& options = {});
    // The program with exactly these arguments.
    struct ExactArguments {};
    ServerProcess(ExactArguments, const std::vector<std::string>& arguments) { start(arguments); }
    // The same, run by another user (the test must run as root).
    struct AsUser {
        uid_t uid;
    };
    ServerProcess(ExactArguments, const std::vector<std::string>& arguments, AsUser user) { start(arguments, user.uid); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess();  // kills the child if it still runs

    // The first standard output line after the last one matched that contains the part, or whose
    // text after the "[HH:MM:SS] " stamp is the text; lines passed over may match a later wait.
    std::optional<std::string> waitForLine(const std::string& part, std::chrono::milliseconds timeout = kPatience);
    std::optional<std::string> waitForText(const std::string& text);
    // The text after the stamp of the line right after the last one matched; nothing without a stamp.
    std::optional<std::string> nextText();

    std::string output() const;  // standard output, lines ended
    const std::string& errors() const { return errors_; }
    std::string transcript() const;

    void sendConsole(const std::string& text);  // and a line end
    void closeStdin();
    bool running() { return !reap(); }
    // The exit code, or 128 + the signal that ended it; nothing when it still runs at the timeout.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = kPatience);
    std::optional<int> terminate();  // SIGTERM, then waitForExit
    pid_t pid() const { return pid_; }

private:
    void start(std::vector<std::string> arguments, std::optional<uid_t> user = std::nullopt);
    std::optional<std::string> waitFor(const std::function<bool(const std::string&)>& matches,
                                       std::chrono::milliseconds timeout = kPatience);
    void pump(std::chrono::milliseconds timeout);
    bool reap();

    pid_t pid_ = -1;
    std::optional<int> status_;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string partial_, errors_;
    std::vector<std::string> lines_;
    std::size_t next_ = 0;
};

// A TCP port nobody listens on now, below 32768: the server keeps its port in a 16-bit signed number.
int freePort();

}  // namespace murmur::test
