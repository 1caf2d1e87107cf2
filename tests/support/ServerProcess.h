// The real program as a child process: its standard input is a pipe the test writes console
// entries to, its standard output and error are pipes the test reads lines from.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace murmur::test {

class TempDir;

using namespace std::chrono_literals;

// Generous, so that a slow machine passes; only a failing test waits this long.
constexpr std::chrono::milliseconds kPatience = 10s;

class ServerProcess {
public:
    // murmur-server --headless --dir DIR --color never, then the extra arguments.
    explicit ServerProcess(const std::string& dataDirectory, const std::vector<std::string>& extra = {});

    // The program with exactly these arguments and nothing else.
    struct ExactArguments {};
    ServerProcess(ExactArguments, const std::vector<std::string>& arguments);

    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    // Kills the child if it still runs.
    ~ServerProcess();

    // Waits for a standard output line that comes after the last one matched (lines are matched
    // in the order they were printed) and returns it, timestamp included. Lines passed over stay
    // in lines().
    std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& matches,
                                           std::chrono::milliseconds timeout = kPatience);
    // A line that contains the text.
    std::optional<std::string> waitForLine(const std::string& part, std::chrono::milliseconds timeout = kPatience);
    // A line whose text after the timestamp is exactly this.
    std::optional<std::string> waitForText(const std::string& text, std::chrono::milliseconds timeout = kPatience);
    // The line right after the last one matched.
    std::optional<std::string> nextLine(std::chrono::milliseconds timeout = kPatience);

    // Every standard output line seen so far, without line ends.
    const std::vector<std::string>& lines() const { return lines_; }
    // Everything the program wrote to standard error so far.
    const std::string& errors() const { return errors_; }
    // Standard output and error as read so far, for failure messages.
    std::string transcript() const;

    // The text and a line end on standard input.
    void sendConsole(const std::string& text);
    void closeStdin();

    bool running();
    // The exit code, or 128 + the signal that ended it; nothing when it still runs at the timeout.
    // Output is read while waiting, so a child blocked on a full pipe cannot hang the wait.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = kPatience);
    // SIGTERM, then waitForExit.
    std::optional<int> terminate(std::chrono::milliseconds timeout = kPatience);

    pid_t pid() const { return pid_; }

private:
    void start(const std::vector<std::string>& arguments);
    // Reads whatever the pipes hold, waiting at most the timeout for something to arrive.
    void pump(std::chrono::milliseconds timeout);
    void takeLines(bool atEnd);
    bool reap(bool block);

    pid_t pid_ = -1;
    std::optional<int> status_;
    int stdin_ = -1;
    int stdout_ = -1;
    int stderr_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
    std::size_t nextUnmatched_ = 0;
    std::string errors_;
};

// Every standard output line starts with "[HH:MM:SS] ".
constexpr std::size_t kTimestampLength = 11;
bool hasTimestamp(const std::string& line);
// The text after the timestamp; nothing when the line does not start with one.
std::optional<std::string> textAfterTimestamp(const std::string& line);
inline std::optional<std::string> textAfterTimestamp(const std::optional<std::string>& line) {
    if (!line) return std::nullopt;
    return textAfterTimestamp(*line);
}

// A TCP port nobody listens on now. The server keeps its port in a 16-bit signed number, so the
// port is below 32768, out of the kernel's range for ephemeral ports.
int freePort();

// MMConf.ini in the data directory: "[Server]", "Port=<port>", then the extra text as given
// (CR LF line ends are the caller's to write).
void writeConfig(const TempDir& dir, int port, const std::string& extra = "");

}  // namespace murmur::test
