// A host for tests: sockets that record what the server sent, timers fired by hand, a tick count
// and a clock set by the test, a scripted random source, and a listener whose ports can be taken.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/Host.h"
#include "host/OutputQueue.h"

namespace murmur::test {

class FakeHost;

class FakeSocket final : public ClientSocket {
public:
    explicit FakeSocket(FakeHost& host, int id) : host_(host), id_(id) {}
    ~FakeSocket() override;

    void setEvents(Events events) override { events_ = std::move(events); }
    bool accept(RequestId request) override;
    int state() const override { return state_; }
    std::string remoteAddress() const override { return remote_; }
    std::string read(std::size_t most) override;
    std::size_t send(std::string_view bytes) override;
    std::size_t sendShared(std::string_view frame) override;
    void close() override;
    void abort() override;
    std::size_t pendingOutput() const override { return out_.unsent() + backlog; }
    std::uint64_t delivered() const override { return taken; }

    // The peer's side.
    // Bytes arrive, and the loop serves the socket until the server has read them all or leaves
    // the rest unread.
    void deliver(const std::string& bytes);
    // Bytes arrive; the next turn of the loop serves them.
    void arrive(const std::string& bytes);
    void peerCloses();        // the client ends the connection
    std::string takeSent();   // everything sent since the last take
    // A peer that reads again takes everything unsent.
    void catchUp();
    // Whether the peer has taken exactly the start of what the server sent since the accept, and
    // the rest waits in the queue in order.
    bool outputInOrder() const;
    std::size_t unread() const { return inbox_.size(); }

    std::string sent;      // everything ever sent on this socket object
    std::string received;  // what the peer has taken since the accept
    int closes = 0;    // graceful closes made by the server
    int resets = 0;    // abortive closes made by the server
    int sharedSends = 0;  // frames that came as references to a shared copy
    // A peer that does not read: what is sent while this is off stays unsent.
    bool reading = true;
    std::size_t window = SIZE_MAX;  // the most a reading peer takes at one flush
    std::size_t backlog = 0;        // unsent output beyond the queue: a test's shortcut to a full one
    std::uint64_t taken = 0;        // what the peer has taken
    int id() const { return id_; }

private:
    friend class FakeHost;
    void queue();
    // Offers the queued output to the peer, as a flush of the real host does.
    void flush();

    FakeHost& host_;
    int id_;
    OutputQueue out_;
    bool queued_ = false;         // in the host's list of sockets to flush
    std::size_t acceptedAt_ = 0;  // where this connection's bytes start in sent
    Events events_;
    int state_ = sckClosed;
    std::string remote_;
    std::string inbox_;
    std::size_t takenSent_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class FakeTimer final : public Timer {
public:
    explicit FakeTimer(FakeHost& host) : host_(host) {}
    void setTick(std::function<void()> tick) override { tick_ = std::move(tick); }
    void setInterval(int milliseconds) override { interval_ = milliseconds; }
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool enabled() const override { return enabled_; }
    // Fires the tick when the timer would run; returns whether it did.
    bool fire();
    bool running() const { return enabled_ && interval_ > 0; }

private:
    FakeHost& host_;
    std::function<void()> tick_;
    int interval_ = 0;
    bool enabled_ = false;
};

class FakeListener final : public Listener {
public:
    explicit FakeListener(FakeHost& host) : host_(&host) {}
    void setConnectionRequest(std::function<void(RequestId)> handler) override { handler_ = std::move(handler); }
    bool listen(const std::string& bindAddress, int port, ListenError& error) override;
    void close() override { listening_ = false; }
    bool isListening() const override { return listening_; }
    int localPort() const override { return port_; }
    std::string requestAddress(RequestId request) const override;
    void reject(RequestId request) override { rejected.push_back(request); }

    std::set<int> takenPorts;  // listening on these fails with "address in use"
    std::string boundAddress;
    std::vector<RequestId> rejected;
    int listenCalls = 0;

private:
    friend class FakeHost;
    FakeHost* host_;
    std::function<void(RequestId)> handler_;
    bool listening_ = false;
    int port_ = 0;
};

class FakeHost final : public Host, public EventLoop, public Random, public Clock {
public:
    FakeHost();
    ~FakeHost() override;

    std::unique_ptr<ClientSocket> createClientSocket() override;
    std::unique_ptr<Timer> createTimer() override;
    Listener& listener() override { return listener_; }
    EventLoop& loop() override { return *this; }
    Random& random() override { return *this; }
    Clock& clock() override { return *this; }

    void yield() override;
    std::int32_t tickCount() const override { return ticks; }
    // As the real host does: handlers started inside a handler are part of it, and the work for
    // after handlers runs when the outermost one is done. Every delivery, close, accept and tick
    // of this host runs through it.
    void runHandler(const std::function<void()>& handler) override;
    void setAfterHandlers(std::function<void()> work) override { afterHandlers_ = std::move(work); }
    std::string_view share(std::string_view frame) override;
    std::size_t closingConnections() const override { return closing; }
    bool resetOldestClosing() override;

    // One turn of the loop, as one batch: every socket with unread input gets one data-arrival
    // event, in the order their input arrived. Returns how many were served.
    int turn();
    double next() override;
    LocalTime now() const override { return time; }

    // A client connects from the address; returns the socket that took it, or null.
    FakeSocket* connect(const std::string& address = "10.0.0.1");
    // Every socket object the server holds or held, newest last.
    const std::vector<FakeSocket*>& sockets() const { return live_; }
    // The timers in the order the server created them.
    std::vector<FakeTimer*> timers;

    std::int32_t ticks = 1000;
    std::size_t closing = 0;      // connections the host still holds while they close
    int closingResets = 0;        // how many of them the server had reset
    LocalTime time{2026, 12, 7, 12, 34, 56};
    std::deque<double> randomScript;  // drawn first; afterwards the repeatable sequence
    int yields = 0;
    // What happened, in order, across all sockets: "send <id>", "close <id>", "yield".
    std::vector<std::string> events;

private:
    friend class FakeSocket;
    friend class FakeListener;
    FakeListener listener_;
    RepeatableRandom fallback_;
    std::function<void()> afterHandlers_;
    int depth_ = 0;
    std::vector<FakeSocket*> live_;
    std::vector<std::pair<FakeSocket*, std::shared_ptr<bool>>> ready_;
    OutputBatch batch_;
    std::vector<std::pair<FakeSocket*, std::shared_ptr<bool>>> flushList_;
    FakeSocket* lastAccepted_ = nullptr;
    std::map<RequestId, std::string> pending_;
    RequestId nextRequest_ = 100;
    int nextSocketId_ = 0;
};

}  // namespace murmur::test
