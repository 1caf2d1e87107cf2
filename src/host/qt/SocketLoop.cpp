#include "host/qt/SocketLoop.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace murmur {
namespace {

// A closed connection whose peer neither reads its last output nor hangs up is let go by then.
constexpr std::int64_t kClosingLimitMs = 10000;
// When the process runs out of descriptors the listener rests instead of spinning.
constexpr int kAcceptPauseMs = 100;
constexpr int kEventsPerTurn = 512;
// Output of a busy stretch is collected for a moment, so that a burst of handlers (a storm of
// logons, each announced to everyone) costs each connection one write instead of one per handler.
// The moment is as long as the last flush took, so that writing takes no more than about half of
// a busy server's time. A write costs about 10 µs on loopback whatever it carries, so a flush to
// thousands of connections, each given a few bytes, costs tens of milliseconds: after one dearer
// than this the moment is twice as long, or logons would leave no time for their handlers
// (10,000 clients logging on: 40 % fewer writes and a third less time). A loop about to wait for
// events flushes as soon as the moment has passed, without waiting for the timer: clients may be
// waiting for this output before they send more (chat among hundreds: a quarter more lines
// delivered, a third less latency).
constexpr std::int64_t kFlushPaceUs = 1000;
constexpr std::int64_t kDearFlushUs = 25'000;
constexpr std::int64_t kLongestFlushPaceUs = 200'000;
// Output buffers are freed as soon as they drain, but the allocator keeps the pages of a busy
// stretch (a storm of logons leaves megabytes of them, scattered among live records, where only a
// trim can reach). After this much output they go back to the system: when the loop is about to
// wait, or now and then if it never does.
constexpr std::uint64_t kTrimAfterBytes = 8 << 20;
constexpr std::int64_t kTrimWhenIdleUs = 100'000;
constexpr std::int64_t kTrimWhenBusyUs = 2'000'000;
// A timer's tick waits for at most this many batches of waiting socket events.
constexpr int kDrainBatches = 64;
constexpr int kAcceptsPerTurn = 256;
// The kernel's share of a connection's unsent output. Left to itself it grows to megabytes for a
// client that does not read, where the send limit could not see it.
constexpr int kKernelSendBuffer = 128 * 1024;

std::int64_t nowUs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

std::int64_t nowMs() { return nowUs() / 1000; }

std::string peerAddress(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&address)->sin_addr, text, sizeof text);
    } else if (address.ss_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr;
        // Clients on IPv4 reach the dual-stack listener as mapped addresses; they keep their
        // dotted form, which is what ban lists hold.
        if (IN6_IS_ADDR_V4MAPPED(&v6)) ::inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text);
        else ::inet_ntop(AF_INET6, &v6, text, sizeof text);
    }
    return text;
}

// An abortive close: the kernel answers with a reset and keeps nothing of the connection.
void closeWithReset(int fd) {
    linger now{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    ::close(fd);
}

ListenError describe(int error) {
    switch (error) {
        case EADDRINUSE: return {errAddressInUse, "Address in use"};
        case EACCES: return {10013, "Permission denied"};
        case EADDRNOTAVAIL: return {10049, "Address not available"};
        default: return {10022, std::strerror(error)};
    }
}

}  // namespace

// ---- client sockets ----

EpollClientSocket::~EpollClientSocket() { close(); }

bool EpollClientSocket::accept(RequestId request) {
    close();
    int fd = static_cast<int>(request);
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kKernelSendBuffer, sizeof kKernelSendBuffer);
    remote_ = peerAddress(fd);
    generation_ = loop_.watch(fd, SocketLoop::Kind::client, EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET);
    if (generation_ == 0) return false;
    fd_ = fd;
    entry_ = &loop_.entry(fd);
    entry_->owner = this;
    return true;
}

int EpollClientSocket::state() const {
    if (fd_ < 0) return sckClosed;
    return entry_->reported ? sckClosing : sckConnected;
}

std::string EpollClientSocket::read(std::size_t most) {
    std::string data;
    if (fd_ < 0 || most == 0) return data;
    SocketLoop::Entry& e = *entry_;
    // One read takes what a client usually sends at once (a reply to a ping is three bytes), so the
    // common case costs one call and one copy; a short read means the socket is empty for now.
    static char scratch[65536];
    for (;;) {
        std::size_t want = std::min(sizeof scratch, most - data.size());
        ssize_t n = ::read(fd_, scratch, want);
        if (n > 0) {
            data.append(scratch, static_cast<std::size_t>(n));
            if (static_cast<std::size_t>(n) < want) {
                e.inputPending = false;
                break;
            }
            if (data.size() == most) {
                e.readFull = true;
                break;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno != EAGAIN) e.peerEnded = true;
        e.inputPending = false;
        break;
    }
    return data;
}

std::size_t EpollClientSocket::send(std::string_view bytes) { return queueOutput(bytes, false); }

std::size_t EpollClientSocket::sendShared(std::string_view frame) { return queueOutput(frame, true); }

std::size_t EpollClientSocket::queueOutput(std::string_view bytes, bool shared) {
    if (fd_ < 0 || entry_->reported) return 0;
    SocketLoop::Entry& e = *entry_;
    if (bytes.empty()) return e.out.unsent();
    if (shared) e.out.addShared(loop_.batch_, bytes);
    else e.out.add(loop_.batch_, bytes);
    loop_.queue(fd_, e);
    return e.out.unsent();
}

void EpollClientSocket::close() {
    if (fd_ < 0) return;
    int fd = fd_;
    fd_ = -1;
    entry_ = nullptr;
    loop_.release(fd);
}

void EpollClientSocket::abort() {
    if (fd_ < 0) return;
    int fd = fd_;
    fd_ = -1;
    entry_ = nullptr;
    loop_.reset(fd);
}

std::size_t EpollClientSocket::pendingOutput() const { return fd_ < 0 ? 0 : entry_->out.unsent(); }

std::uint64_t EpollClientSocket::delivered() const { return fd_ < 0 ? 0 : entry_->out.delivered(); }

// ---- listener ----

bool EpollListener::listen(const std::string& bindAddress, int port, ListenError& error) {
    close();
    int fd = -1;
    int failure = 0;
    auto tryBind = [&](int family, const sockaddr* address, socklen_t length) {
        fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            failure = errno;
            return false;
        }
        int on = 1, off = 0;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        if (::bind(fd, address, length) == 0 && ::listen(fd, 4096) == 0) return true;
        failure = errno;
        ::close(fd);
        fd = -1;
        return false;
    };

    if (bindAddress.empty()) {
        sockaddr_in6 any6{};
        any6.sin6_family = AF_INET6;
        any6.sin6_addr = in6addr_any;
        any6.sin6_port = htons(static_cast<std::uint16_t>(port));
        if (!tryBind(AF_INET6, reinterpret_cast<sockaddr*>(&any6), sizeof any6) && failure != EADDRINUSE) {
            // A system without IPv6 still takes clients on IPv4.
            sockaddr_in any4{};
            any4.sin_family = AF_INET;
            any4.sin_addr.s_addr = htonl(INADDR_ANY);
            any4.sin_port = htons(static_cast<std::uint16_t>(port));
            tryBind(AF_INET, reinterpret_cast<sockaddr*>(&any4), sizeof any4);
        }
    } else {
        sockaddr_in one{};
        one.sin_family = AF_INET;
        one.sin_port = htons(static_cast<std::uint16_t>(port));
        if (::inet_pton(AF_INET, bindAddress.c_str(), &one.sin_addr) != 1) failure = EADDRNOTAVAIL;
        else tryBind(AF_INET, reinterpret_cast<sockaddr*>(&one), sizeof one);
    }
    if (fd < 0) {
        error = describe(failure);
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                               : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    if (loop_.watch(fd, SocketLoop::Kind::listener, EPOLLIN) == 0) {
        ::close(fd);
        error = describe(EMFILE);
        return false;
    }
    loop_.entry(fd).listener = this;
    fd_ = fd;
    return true;
}

void EpollListener::close() {
    if (fd_ < 0) return;
    loop_.forget(fd_);
    ::close(fd_);
    fd_ = -1;
    port_ = 0;
}

std::string EpollListener::requestAddress(RequestId request) const { return peerAddress(static_cast<int>(request)); }

void EpollListener::reject(RequestId request) { closeWithReset(static_cast<int>(request)); }

void EpollListener::acceptPending() {
    for (int i = 0; i < kAcceptsPerTurn && fd_ >= 0; ++i) {
        int client = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) loop_.pauseAccepting(*this);
            return;
        }
        if (handler_) handler_(client);
        else ::close(client);
    }
}

// ---- the loop ----

SocketLoop::SocketLoop(Runner runner) : run_(std::move(runner)) {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    notifier_ = std::make_unique<QSocketNotifier>(epoll_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { processEvents(); });
    sweeper_ = std::make_unique<QTimer>();
    sweeper_->setInterval(1000);
    connect(sweeper_.get(), &QTimer::timeout, this, [this] { sweepClosing(); });
    flushTimer_ = std::make_unique<QTimer>();
    flushTimer_->setSingleShot(true);
    flushTimer_->setTimerType(Qt::PreciseTimer);
    connect(flushTimer_.get(), &QTimer::timeout, this, [this] { flush(); });
    turnTimer_ = std::make_unique<QTimer>();
    turnTimer_->setSingleShot(true);
    turnTimer_->setInterval(0);
    connect(turnTimer_.get(), &QTimer::timeout, this, [this] { processEvents(); });
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            flushAfter(0);
            giveMemoryBack(kTrimWhenIdleUs);
        });
}

SocketLoop::~SocketLoop() {
    for (std::size_t fd = 0; fd < entries_.size(); ++fd)
        if (entries_[fd].kind == Kind::closing) ::close(static_cast<int>(fd));
    ::close(epoll_);
}

SocketLoop::Entry& SocketLoop::entry(int fd) {
    if (static_cast<std::size_t>(fd) >= entries_.size()) entries_.resize(static_cast<std::size_t>(fd) + 1);
    return entries_[static_cast<std::size_t>(fd)];
}

std::uint32_t SocketLoop::watch(int fd, Kind kind, std::uint32_t events) {
    Entry& e = entry(fd);
    e = Entry{};
    e.kind = kind;
    e.generation = nextGeneration_++;
    if (nextGeneration_ == 0) nextGeneration_ = 1;
    epoll_event event{};
    event.events = events;
    event.data.u64 = (static_cast<std::uint64_t>(e.generation) << 32) | static_cast<std::uint32_t>(fd);
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
        e = Entry{};
        return 0;
    }
    return e.generation;
}

void SocketLoop::forget(int fd) {
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    entry(fd) = Entry{};
}

void SocketLoop::markReady(int fd) {
    Entry& e = entry(fd);
    if (e.ready) return;
    e.ready = true;
    ready_.push_back(fd);
}

void SocketLoop::flushSoon() { flushAfter(kFlushPaceUs); }

void SocketLoop::flushAfter(std::int64_t shortest) {
    if (flushList_.empty()) return;
    std::int64_t factor = lastFlushTook_ < kDearFlushUs ? 1 : 2;
    std::int64_t pace = std::clamp(lastFlushTook_ * factor, shortest, kLongestFlushPaceUs);
    std::int64_t since = nowUs() - lastFlush_;
    if (since >= pace) return flush();
    if (!flushTimer_->isActive()) flushTimer_->start(static_cast<int>((pace - since + 999) / 1000));
}

void SocketLoop::drainInput() {
    for (int batch = 0; batch < kDrainBatches; ++batch)
        if (processEvents() < kEventsPerTurn) return;
}

bool SocketLoop::resetOldestClosing() {
    while (!closing_.empty()) {
        auto [fd, generation] = closing_.front();
        closing_.pop_front();
        const Entry& e = entry(fd);
        if (e.kind != Kind::closing || e.generation != generation) continue;
        --closingCount_;
        reset(fd);
        return true;
    }
    return false;
}

std::string_view SocketLoop::share(std::string_view frame) { return batch_.share(frame); }

void SocketLoop::flush() {
    lastFlush_ = nowUs();
    flushTimer_->stop();
    std::vector<int> due;
    due.swap(flushList_);
    for (int fd : due)
        if (entry(fd).queued) flushOne(fd);
    lastFlushTook_ = nowUs() - lastFlush_;
    // Nobody refers to the batch any more: every connection with output was flushed, and kept a
    // copy of what it could not write.
    batch_.reset();
    giveMemoryBack(kTrimWhenBusyUs);
    // Output that left may be what a held-back client was waiting for.
    if (!ready_.empty() && !turnTimer_->isActive()) turnTimer_->start();
}

void SocketLoop::giveMemoryBack(std::int64_t atMostEvery) {
    std::int64_t now = nowUs();
    if (written_ - writtenAtTrim_ <= kTrimAfterBytes || now - lastTrim_ < atMostEvery) return;
    ::malloc_trim(0);
    writtenAtTrim_ = written_;
    lastTrim_ = now;
}

void SocketLoop::flushOne(int fd) {
    Entry& e = entry(fd);
    e.queued = false;
    std::uint64_t before = e.out.delivered();
    OutputQueue::Written written = e.out.write(batch_, [fd](const iovec* iov, std::size_t count) -> long {
        msghdr message{};
        message.msg_iov = const_cast<iovec*>(iov);
        message.msg_iovlen = count;
        for (;;) {
            ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL);
            if (n > 0) return static_cast<long>(n);
            if (n < 0 && errno == EINTR) continue;
            // A full window brings EPOLLOUT later; anything else means the peer is gone.
            return n < 0 && errno == EAGAIN ? 0 : -1;
        }
    });
    written_ += e.out.delivered() - before;
    if (written == OutputQueue::Written::blocked) return;
    if (written == OutputQueue::Written::gone) e.peerEnded = true;
    if (e.kind != Kind::closing) return;
    if (e.peerEnded) return finishClosing(fd);
    if (!e.shutDown) {
        ::shutdown(fd, SHUT_WR);
        e.shutDown = true;
    }
}

void SocketLoop::release(int fd) {
    Entry& e = entry(fd);
    e.owner = nullptr;
    e.kind = Kind::closing;
    e.deadline = nowMs() + kClosingLimitMs;
    closing_.emplace_back(fd, e.generation);
    ++closingCount_;
    if (!sweeper_->isActive()) sweeper_->start();
    // Output sent before the close goes out first; then our side is shut and the peer's end awaited.
    flushOne(fd);
}

void SocketLoop::finishClosing(int fd) {
    Entry& e = entry(fd);
    if (e.kind != Kind::closing) return;
    --closingCount_;
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    e = Entry{};
}

void SocketLoop::reset(int fd) {
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    closeWithReset(fd);
    entry(fd) = Entry{};
}

void SocketLoop::pauseAccepting(EpollListener& listener) {
    int fd = listener.fd_;
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    std::uint32_t generation = entry(fd).generation;
    QTimer::singleShot(kAcceptPauseMs, this, [this, fd, generation, &listener] {
        if (listener.fd_ != fd || entry(fd).generation != generation) return;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = (static_cast<std::uint64_t>(generation) << 32) | static_cast<std::uint32_t>(fd);
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
    });
}

int SocketLoop::processEvents() {
    epoll_event events[kEventsPerTurn];
    int count = std::max(0, ::epoll_wait(epoll_, events, kEventsPerTurn, 0));
    if (count == 0 && ready_.empty()) return 0;
    bool busy = false;
    // One handler for the whole batch: what it sends to a connection leaves in one write.
    run_([&] {
        for (int i = 0; i < count; ++i) {
            auto fd = static_cast<int>(events[i].data.u64 & 0xFFFFFFFFu);
            auto generation = static_cast<std::uint32_t>(events[i].data.u64 >> 32);
            Entry& e = entry(fd);
            if (e.generation != generation) continue;  // closed, and maybe reused, in this batch
            switch (e.kind) {
                case Kind::listener: e.listener->acceptPending(); break;
                case Kind::client: clientEvent(fd, events[i].events); break;
                case Kind::closing: closingEvent(fd, events[i].events); break;
                case Kind::none: break;
            }
        }
        busy = serveReady();
    });
    // A connection that read all it was allowed may have more: it is served again as soon as the
    // loop has looked at everything else. One held back waits for the next event or tick instead.
    if (busy && !turnTimer_->isActive()) turnTimer_->start();
    return count;
}

bool SocketLoop::serveReady() {
    bool busy = false;
    std::vector<int> due;
    due.swap(ready_);
    for (int fd : due) {
        Entry& e = entry(fd);
        e.ready = false;
        if (e.kind != Kind::client || !e.owner) continue;
        std::uint32_t generation = e.generation;
        e.readFull = false;
        if (e.inputPending && e.owner->events_.dataArrival) e.owner->events_.dataArrival();
        Entry& now = entry(fd);
        if (now.generation != generation || now.kind != Kind::client || !now.owner) continue;
        if (now.inputPending) {
            markReady(fd);
            busy = busy || now.readFull;
            continue;
        }
        // The close is raised only once what the peer sent before it has been read.
        if (!now.peerEnded || now.reported) continue;
        now.reported = true;
        if (now.owner->events_.closed) now.owner->events_.closed();
    }
    return busy;
}

void SocketLoop::clientEvent(int fd, std::uint32_t events) {
    // Room in the peer's window lets out what an earlier flush left; output of this batch waits
    // for the flush, so that it leaves in one write. (Every input event reports the room too.)
    if ((events & EPOLLOUT) && !entry(fd).queued) flushOne(fd);
    Entry& e = entry(fd);
    if (e.kind != Kind::client || !e.owner) return;
    if (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) e.peerEnded = true;
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) e.inputPending = true;
    if (e.inputPending || (e.peerEnded && !e.reported)) markReady(fd);
}

void SocketLoop::closingEvent(int fd, std::uint32_t events) {
    if (events & EPOLLOUT) flushOne(fd);
    if (entry(fd).kind != Kind::closing) return;
    if (events & (EPOLLHUP | EPOLLERR)) return finishClosing(fd);
    if (events & (EPOLLIN | EPOLLRDHUP)) {
        // What a closed connection still sends is read and dropped until it hangs up.
        char sink[4096];
        for (;;) {
            ssize_t n = ::read(fd, sink, sizeof sink);
            if (n > 0) continue;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) break;
            entry(fd).peerEnded = true;
            break;
        }
        Entry& e = entry(fd);
        if (e.peerEnded && e.out.unsent() == 0) finishClosing(fd);
    }
}

void SocketLoop::sweepClosing() {
    std::int64_t now = nowMs();
    std::deque<std::pair<int, std::uint32_t>> still;
    for (auto [fd, generation] : closing_) {
        Entry& e = entry(fd);
        if (e.kind != Kind::closing || e.generation != generation) continue;
        if (now >= e.deadline) finishClosing(fd);
        else still.emplace_back(fd, generation);
    }
    closing_.swap(still);
    if (closing_.empty()) sweeper_->stop();
}

}  // namespace murmur
