// The server's sockets on one epoll set, watched by a single notifier in Qt's event loop. The cost
// of a turn depends on the sockets that have something to do, not on how many are open; output
// collects per connection during a turn and leaves in one write. Input is taken a bounded piece at
// a time: a connection with more waiting is served again in the next turn, after the others, so
// one client streaming as fast as it can never keeps the rest waiting.
#pragma once

#include <QObject>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Host.h"
#include "host/OutputQueue.h"

class QSocketNotifier;
class QTimer;

namespace murmur {

class EpollClientSocket;
class EpollListener;
class SocketLoop;

enum class DescriptorKind : std::uint8_t { none, listener, client, closing };

// What the socket loop knows about one descriptor. The output belongs to the descriptor, so a
// socket closed by the server still delivers what was sent before the close.
struct SocketLoopEntry {
    DescriptorKind kind = DescriptorKind::none;
    std::uint32_t generation = 0;
    bool queued = false;       // waiting in the flush list
    bool ready = false;        // waiting in the list of connections to serve in the next turn
    bool inputPending = false; // received bytes may be waiting in the kernel
    bool readFull = false;     // the last read took all it was allowed: more may follow at once
    bool peerEnded = false;    // the peer closed its side or the connection failed
    bool reported = false;     // the close event has been raised
    bool shutDown = false;     // our side is shut for writing
    EpollClientSocket* owner = nullptr;
    EpollListener* listener = nullptr;
    OutputQueue out;
    std::int64_t deadline = 0;  // closing descriptors are freed by then at the latest
};

class EpollClientSocket final : public ClientSocket {
public:
    explicit EpollClientSocket(SocketLoop& loop) : loop_(loop) {}
    ~EpollClientSocket() override;

    void setEvents(Events events) override { events_ = std::move(events); }
    bool accept(RequestId request) override;
    int state() const override;
    std::string remoteAddress() const override { return remote_; }
    std::string read(std::size_t most) override;
    std::size_t send(std::string_view bytes) override;
    std::size_t sendShared(std::string_view frame) override;
    void close() override;
    void abort() override;
    std::size_t pendingOutput() const override;
    std::uint64_t delivered() const override;

private:
    friend class SocketLoop;
    std::size_t queueOutput(std::string_view bytes, bool shared);
    SocketLoop& loop_;
    Events events_;
    int fd_ = -1;
    std::uint32_t generation_ = 0;
    // The loop's entry for the descriptor while this socket holds it; entries never move.
    SocketLoopEntry* entry_ = nullptr;
    std::string remote_;
};

class EpollListener final : public Listener {
public:
    explicit EpollListener(SocketLoop& loop) : loop_(loop) {}
    ~EpollListener() override { close(); }

    void setConnectionRequest(std::function<void(RequestId)> handler) override { handler_ = std::move(handler); }
    bool listen(const std::string& bindAddress, int port, ListenError& error) override;
    void close() override;
    bool isListening() const override { return fd_ >= 0; }
    int localPort() const override { return port_; }
    std::string requestAddress(RequestId request) const override;
    void reject(RequestId request) override;

private:
    friend class SocketLoop;
    void acceptPending();

    SocketLoop& loop_;
    std::function<void(RequestId)> handler_;
    int fd_ = -1;
    int port_ = 0;
};

class SocketLoop final : public QObject {
public:
    // Runs a handler of the server; output is written once the outermost handler is done.
    using Runner = std::function<void(const std::function<void()>&)>;

    explicit SocketLoop(Runner runner);
    ~SocketLoop() override;

    // Writes every connection's collected output as far as the peers take it.
    void flush();
    // The same, but a burst of handlers shares one write per connection: output waits for the
    // handlers behind it, as long as the last flush took or twice that (1 ms to 200 ms).
    void flushSoon();
    // Handles the socket events that are already waiting, so that a timer's tick sees every reply
    // that arrived before it, however busy the server was.
    void drainInput();
    std::size_t closingCount() const { return closingCount_; }
    bool resetOldestClosing();
    // One copy of a frame for many connections, valid until the next flush.
    std::string_view share(std::string_view frame);

private:
    friend class EpollClientSocket;
    friend class EpollListener;

    using Kind = DescriptorKind;
    using Entry = SocketLoopEntry;

    Entry& entry(int fd);
    std::uint32_t watch(int fd, Kind kind, std::uint32_t events);
    void forget(int fd);
    void queue(int fd, Entry& e) {
        if (e.queued) return;
        e.queued = true;
        flushList_.push_back(fd);
    }
    void markReady(int fd);
    void flushOne(int fd);
    // The server let go of the connection; it is closed once its output is out.
    void release(int fd);
    void finishClosing(int fd);
    // Ends the connection with a reset, at once.
    void reset(int fd);
    void pauseAccepting(EpollListener& listener);

    // One turn: handles a batch of waiting socket events, then serves once each connection with
    // input left; returns how many events there were.
    int processEvents();
    // Returns whether a connection read all it was allowed, so that another turn should follow.
    bool serveReady();
    void clientEvent(int fd, std::uint32_t events);
    void flushAfter(std::int64_t shortest);
    void giveMemoryBack(std::int64_t atMostEvery);
    void closingEvent(int fd, std::uint32_t events);
    void sweepClosing();

    Runner run_;
    int epoll_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QTimer> sweeper_;
    std::unique_ptr<QTimer> flushTimer_;
    std::unique_ptr<QTimer> turnTimer_;  // another turn, as soon as the loop is free
    std::int64_t lastFlush_ = 0;      // µs, monotonic
    std::int64_t lastFlushTook_ = 0;  // µs
    std::uint64_t written_ = 0;        // bytes the kernel took since the start
    std::uint64_t writtenAtTrim_ = 0;  // and at the last time the allocator gave memory back
    std::int64_t lastTrim_ = 0;  // µs
    std::deque<Entry> entries_;  // by descriptor; a deque keeps references valid as it grows
    std::vector<int> flushList_;
    OutputBatch batch_;
    std::vector<int> ready_;
    std::deque<std::pair<int, std::uint32_t>> closing_;  // descriptor and generation, oldest first
    std::size_t closingCount_ = 0;
    std::uint32_t nextGeneration_ = 1;
};

}  // namespace murmur
