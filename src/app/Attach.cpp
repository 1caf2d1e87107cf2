#include "app/Attach.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>

#include "host/CodePage.h"
#include "ui/ConsoleLink.h"
#include "ui/Headless.h"

namespace murmur {
namespace {

constexpr const char* kClosed = "the server closed the console.";
constexpr const char* kNoAnswer = "the server did not answer in time.";
constexpr const char* kDetached = "Detached; the server goes on.\n";
// A --console entry is followed by the lines it caused: they come at once, so the wait ends after
// a short quiet, and a server that keeps writing is not listened to for ever.
constexpr std::chrono::milliseconds kQuiet{500};
constexpr std::chrono::milliseconds kLongestWait{3000};

using SteadyClock = std::chrono::steady_clock;

void complain(const std::string& text) { std::fprintf(stderr, "murmur-server: %s\n", text.c_str()); }

int millisecondsUntil(SteadyClock::time_point when) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - SteadyClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// The connection to the server's control socket and the lines that came on it.
class Link {
public:
    ~Link() {
        if (fd >= 0) ::close(fd);
    }

    bool open(const std::string& dataDirectory) {
        std::string path = consolelink::socketPath(dataDirectory);
        std::string where = dataDirectory.empty() ? "." : dataDirectory;
        fd = consolelink::connectTo(consolelink::SocketAddress(path));
        if (fd >= 0) return true;
        std::string reason = path + ": " + std::strerror(errno);
        if (errno == EACCES || errno == EPERM)
            complain("cannot reach the console of the server on " + where + " (" + reason +
                     "); only the server's own user and root may attach.");
        else
            complain("no server is running on " + where + " (" + reason + ").");
        return false;
    }

    // Reads what has come; false once the server has closed the connection.
    bool receive() {
        char buffer[65536];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
        if (n <= 0) return false;
        input_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    std::optional<consolelink::Message> next() {
        std::size_t nl = input_.find('\n');
        if (nl == std::string::npos) return std::nullopt;
        consolelink::Message message = consolelink::decode(std::string_view(input_).substr(0, nl));
        input_.erase(0, nl + 1);
        return message;
    }

    // The server reads whatever a console sends at once, so a plain write does not wait long.
    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    int fd = -1;

private:
    std::string input_;
};

void show(const ChatLine& line, bool colours) {
    std::string text = renderForTerminal(line, colours) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// A notice from the control socket ends the console: it was refused or let go.
void showNotice(const consolelink::Message& message) { complain(codepage::toPrintableUtf8(message.text)); }

}  // namespace

int attachConsole(const std::string& dataDirectory, bool colours) {
    Link link;
    if (!link.open(dataDirectory)) return 1;
    const bool interactive = ::isatty(STDIN_FILENO);
    bool noticed = false;
    std::string typed;
    pollfd watched[2] = {{link.fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        if (watched[0].revents) {
            bool open = link.receive();
            while (auto message = link.next()) {
                switch (message->kind) {
                    case consolelink::Kind::line: show(message->line, colours); break;
                    case consolelink::Kind::notice: showNotice(*message), noticed = true; break;
                    case consolelink::Kind::backlogEnd:
                        if (interactive)
                            std::fprintf(stderr, "Attached to the server on %s: every line you type is a console entry "
                                                 "(/help lists the commands); Ctrl-D detaches.\n",
                                         dataDirectory.empty() ? "." : dataDirectory.c_str());
                        break;
                    case consolelink::Kind::unknown: break;
                }
            }
            if (!open) {
                if (!noticed) complain(kClosed);
                return 1;
            }
        }
        if (!watched[1].revents) continue;
        char buffer[65536];
        ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            // End of input: an unended last line still counts, as it does on the server's own.
            if (!typed.empty()) link.send(typed + "\n");
            if (interactive) std::fputs(kDetached, stderr);
            return 0;
        }
        typed.append(buffer, static_cast<std::size_t>(n));
        std::size_t end = typed.rfind('\n');
        if (end == std::string::npos) continue;
        if (!link.send(std::string_view(typed).substr(0, end + 1))) {
            complain(kClosed);
            return 1;
        }
        typed.erase(0, end + 1);
    }
}

int sendConsoleEntry(const std::string& dataDirectory, const std::string& utf8, bool colours) {
    Link link;
    if (!link.open(dataDirectory)) return 1;
    // The backlog comes first; only what follows the entry is its answer.
    SteadyClock::time_point giveUp = SteadyClock::now() + kLongestWait;
    bool sent = false;
    SteadyClock::time_point quietUntil{};
    for (;;) {
        SteadyClock::time_point until = sent ? std::min(giveUp, quietUntil) : giveUp;
        pollfd watched{link.fd, POLLIN, 0};
        int ready = ::poll(&watched, 1, millisecondsUntil(until));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            if (sent) return 0;
            complain(kNoAnswer);
            return 1;
        }
        bool open = link.receive();
        while (auto message = link.next()) {
            switch (message->kind) {
                case consolelink::Kind::line:
                    if (!sent) break;
                    show(message->line, colours);
                    quietUntil = SteadyClock::now() + kQuiet;
                    break;
                case consolelink::Kind::notice: showNotice(*message); return 1;
                case consolelink::Kind::backlogEnd:
                    if (sent) break;
                    if (!link.send(utf8 + "\n")) {
                        complain(kClosed);
                        return 1;
                    }
                    sent = true;
                    giveUp = SteadyClock::now() + kLongestWait;
                    quietUntil = SteadyClock::now() + kQuiet;
                    break;
                case consolelink::Kind::unknown: break;
            }
        }
        if (!open) {
            complain(kClosed);
            return 1;
        }
    }
}

}  // namespace murmur
