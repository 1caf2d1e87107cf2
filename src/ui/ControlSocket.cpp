#include "ui/ControlSocket.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/CodePage.h"
#include "ui/ConsoleLink.h"

namespace murmur {
namespace {

constexpr const char* kOwnUserOnly = "Only the server's own user and root may use its console.";
constexpr const char* kTooMany = "Too many consoles are attached to the server; try again later.";
constexpr const char* kTooSlow = "This console did not read the server's lines in time and was let go.";
const std::string kTooLong =
    "A console entry is limited to " + std::to_string(consolelink::maxEntry) + " bytes; this console was let go.";
constexpr const char* kSlowReason = "it did not read its lines in time.";
const std::string kLongReason = "it sent an entry longer than " + std::to_string(consolelink::maxEntry) + " bytes.";

// A console told why it is let go gets this long to take the notice before it is closed anyway.
constexpr std::chrono::seconds kLeavingLimit{10};
constexpr int kAcceptsPerTurn = 16;
constexpr std::chrono::milliseconds kAcceptPause{100};
constexpr int kListenBacklog = 16;

using SteadyClock = std::chrono::steady_clock;

std::string why(const std::string& path, int error) { return path + ": " + std::strerror(error); }

// The socket file of a server that was killed: nobody answers on it any more.
bool removeStale(const std::string& path, const consolelink::SocketAddress& address, std::string& problem) {
    struct stat st {};
    if (::lstat(address.name(), &st) != 0) return errno == ENOENT || (problem = why(path, errno), false);
    if (!S_ISSOCK(st.st_mode)) {
        problem = path + " is there and is no socket";
        return false;
    }
    if (::unlink(address.name()) == 0) return true;
    problem = why(path, errno);
    return false;
}

}  // namespace

ControlClaim claimControlSocket(const std::string& dataDirectory) {
    ControlClaim claim;
    const std::string folder = dataDirectory.empty() ? "." : dataDirectory;
    claim.lock = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // The lock, not the socket file, is what keeps two servers off one directory: it goes with
    // the process however that ends, and it holds whatever path either server was given.
    if (claim.lock >= 0 && ::flock(claim.lock, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        claim.refusal = "another server is already running on the data directory " + folder + ".";
        return claim;
    }
    claim.path = consolelink::socketPath(dataDirectory);
    consolelink::SocketAddress address(claim.path);
    if (!address.valid()) {
        claim.problem = why(claim.path, ENAMETOOLONG);
        return claim;
    }
    int probe = consolelink::connectTo(address);
    if (probe >= 0) {
        ::close(probe);
        claim.refusal = "another server is already listening on " + claim.path + ".";
        return claim;
    }
    if (errno == ECONNREFUSED && !removeStale(claim.path, address, claim.problem)) return claim;

    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        claim.problem = why(claim.path, errno);
        return claim;
    }
    // Made with mode 0600 from the start: no moment in which another user could connect.
    mode_t mask = ::umask(0177);
    int bound = ::bind(fd, address.get(), address.length());
    int error = errno;
    ::umask(mask);
    struct stat st {};
    if (bound != 0 || ::listen(fd, kListenBacklog) != 0 || ::stat(address.name(), &st) != 0) {
        if (bound == 0) error = errno;
        ::close(fd);
        if (bound != 0 && error == EADDRINUSE) claim.refusal = "another server has just started on " + claim.path + ".";
        else claim.problem = why(claim.path, error);
        return claim;
    }
    claim.listener = fd;
    claim.device = st.st_dev;
    claim.inode = st.st_ino;
    return claim;
}

struct ControlSocket::Console {
    ~Console() {
        readable.reset();
        writable.reset();
        if (fd >= 0) ::close(fd);
    }

    int fd = -1;
    pid_t pid = 0;
    std::unique_ptr<QSocketNotifier> readable;
    std::unique_ptr<QSocketNotifier> writable;
    std::string input;
    std::deque<std::string> output;
    std::size_t sentOfFront = 0;
    std::size_t queued = 0;  // bytes of output not yet written
    bool leaving = false;    // told why it is let go; closed once that is out
    bool finished = false;   // closed; removed after the current event
    SteadyClock::time_point deadline;
};

ControlSocket::ControlSocket(Server& server, ControlClaim claim, EntryHandler entry)
    : server_(server), claim_(std::move(claim)), entry_(std::move(entry)) {
    if (!entry_) {
        entry_ = [this](const std::string& utf8) { runConsoleEntry(server_, codepage::fromUtf8(utf8)); };
    }
    sweeper_ = std::make_unique<QTimer>();
    sweeper_->setInterval(1000);
    connect(sweeper_.get(), &QTimer::timeout, this, [this] { sweepLeaving(); });
    if (claim_.listener >= 0) {
        listening_ = std::make_unique<QSocketNotifier>(claim_.listener, QSocketNotifier::Read);
        connect(listening_.get(), &QSocketNotifier::activated, this, [this] { acceptPending(); });
    }
    server_.rtbChat.addSink(this);
}

ControlSocket::~ControlSocket() {
    server_.rtbChat.removeSink(this);
    removalDue_ = true;  // nothing is scheduled any more
    // What is still queued gets one last chance: the shutdown line above all.
    for (auto& console : consoles_)
        if (!console->finished) flush(*console);
    consoles_.clear();
    listening_.reset();
    if (claim_.listener >= 0) {
        ::close(claim_.listener);
        consolelink::SocketAddress address(claim_.path);
        struct stat st {};
        if (::lstat(address.name(), &st) == 0 && st.st_dev == claim_.device && st.st_ino == claim_.inode)
            ::unlink(address.name());
    }
    if (claim_.lock >= 0) ::close(claim_.lock);
}

void ControlSocket::acceptPending() {
    for (int i = 0; i < kAcceptsPerTurn; ++i) {
        int fd = ::accept4(claim_.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)) {
            // Out of descriptors: the listener rests for a moment instead of spinning.
            listening_->setEnabled(false);
            QTimer::singleShot(kAcceptPause, this, [this] { listening_->setEnabled(true); });
        }
        if (fd < 0) return;
        ucred peer{};
        socklen_t length = sizeof peer;
        bool known = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0;
        const char* refusal = nullptr;
        if (!known || (peer.uid != ::geteuid() && peer.uid != 0)) refusal = kOwnUserOnly;
        else if (consoles_.size() >= maxConsoles) refusal = kTooMany;
        if (refusal) {
            std::string notice = consolelink::encodeNotice(refusal);
            [[maybe_unused]] auto n = ::send(fd, notice.data(), notice.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            ::close(fd);
            if (refusal == kOwnUserOnly)
                reportLater("A console connection from user " + std::to_string(peer.uid) + " (process " +
                            std::to_string(peer.pid) + ") was refused: only the server's own user and root may attach.");
            continue;
        }
        auto console = std::make_unique<Console>();
        Console& c = *console;
        c.fd = fd;
        c.pid = peer.pid;
        c.readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        c.writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        c.writable->setEnabled(false);
        connect(c.readable.get(), &QSocketNotifier::activated, this, [this, &c] { readFrom(c); });
        connect(c.writable.get(), &QSocketNotifier::activated, this, [this, &c] { flush(c); });
        consoles_.push_back(std::move(console));
        for (const std::string& line : backlog_) queue(c, line);
        queue(c, std::string(consolelink::backlogEnd));
    }
}

void ControlSocket::readFrom(Console& console) {
    if (console.finished || console.leaving) return;
    char buffer[65536];
    ssize_t n = ::recv(console.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) return finish(console);  // detached
    console.input.append(buffer, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t nl; (nl = console.input.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = console.input.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > consolelink::maxEntry) break;
        entry_(line);
        // The entry may have let this console go (its output overflowed); the rest is not taken.
        if (console.leaving || console.finished) return;
    }
    console.input.erase(0, start);
    if (console.input.size() > consolelink::maxEntry)
        letGo(console, kTooLong, kLongReason);
}

void ControlSocket::lineAdded(const ChatLine& line) {
    std::string encoded = consolelink::encodeLine(line);
    backlog_.push_back(encoded);
    backlogBytes_ += encoded.size();
    while (backlog_.size() > consolelink::backlogLines || backlogBytes_ > maxBacklogBytes) {
        backlogBytes_ -= backlog_.front().size();
        backlog_.pop_front();
    }
    for (std::size_t i = 0; i < consoles_.size(); ++i) queue(*consoles_[i], encoded);
}

// An emptied view starts the backlog afresh, as the window shows it.
void ControlSocket::cleared() {
    backlog_.clear();
    backlogBytes_ = 0;
}

void ControlSocket::queue(Console& console, std::string bytes) {
    if (console.leaving || console.finished) return;
    if (console.queued + bytes.size() > maxQueued)
        return letGo(console, kTooSlow, kSlowReason);
    console.queued += bytes.size();
    console.output.push_back(std::move(bytes));
    flush(console);
}

void ControlSocket::flush(Console& console) {
    if (console.finished) return;
    while (!console.output.empty()) {
        const std::string& front = console.output.front();
        ssize_t n = ::send(console.fd, front.data() + console.sentOfFront, front.size() - console.sentOfFront,
                           MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        if (n <= 0) return finish(console);  // the console is gone
        console.sentOfFront += static_cast<std::size_t>(n);
        console.queued -= static_cast<std::size_t>(n);
        if (console.sentOfFront < front.size()) continue;
        console.output.pop_front();
        console.sentOfFront = 0;
    }
    if (console.leaving && console.output.empty()) return finish(console);
    console.writable->setEnabled(!console.output.empty());
}

void ControlSocket::letGo(Console& console, const std::string& notice, const std::string& reason) {
    // A line half written is finished, so that the notice arrives whole; the rest is dropped.
    std::string keep;
    if (console.sentOfFront > 0) keep = console.output.front().substr(console.sentOfFront);
    console.output.clear();
    console.sentOfFront = 0;
    if (!keep.empty()) console.output.push_back(std::move(keep));
    console.output.push_back(consolelink::encodeNotice(notice));
    console.queued = 0;
    for (const auto& bytes : console.output) console.queued += bytes.size();
    console.leaving = true;
    console.deadline = SteadyClock::now() + kLeavingLimit;
    console.readable->setEnabled(false);
    if (!sweeper_->isActive()) sweeper_->start();
    reportLater("The console of process " + std::to_string(console.pid) + " was let go: " + reason);
    flush(console);
}

void ControlSocket::finish(Console& console) {
    if (console.finished) return;
    console.finished = true;
    console.readable->setEnabled(false);
    console.writable->setEnabled(false);
    // Not here: this may run inside the console's own notifier.
    if (removalDue_) return;
    removalDue_ = true;
    QTimer::singleShot(0, this, [this] { removeFinished(); });
}

void ControlSocket::removeFinished() {
    removalDue_ = false;
    std::erase_if(consoles_, [](const std::unique_ptr<Console>& console) { return console->finished; });
}

void ControlSocket::sweepLeaving() {
    bool waiting = false;
    for (auto& console : consoles_) {
        if (!console->leaving || console->finished) continue;
        if (SteadyClock::now() >= console->deadline) finish(*console);
        else waiting = true;
    }
    if (!waiting) sweeper_->stop();
}

void ControlSocket::reportLater(const std::string& text) {
    QTimer::singleShot(0, this, [this, text] {
        server_.host.loop().runHandler([&] { addChat(server_, {{colour::red, text}}); });
    });
}

}  // namespace murmur
