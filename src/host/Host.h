// The host facilities the server runs on: stream sockets, a listener, timers, the event loop, a
// random source and the local clock. The server logic sees only these interfaces; the real program
// supplies them with Qt (host/qt), the tests with FakeHost.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace murmur {

// Identifies one pending connection request between the listener's report and the accept.
using RequestId = std::intptr_t;

// Socket states as the server tests them.
enum SocketState : int {
    sckClosed = 0,
    sckConnected = 7,
    sckClosing = 8,  // the peer has ended the connection; the server has not closed it yet
};

class ClientSocket {
public:
    struct Events {
        // The socket holds input the server has not read. While input remains it is raised again,
        // once in each turn of the loop, also when the server chose to leave the input unread.
        std::function<void()> dataArrival;
        // The peer ended the connection, and what it sent before has been read.
        std::function<void()> closed;
    };

    virtual ~ClientSocket() = default;
    virtual void setEvents(Events events) = 0;
    // Takes over a pending request; the socket is then connected.
    virtual bool accept(RequestId request) = 0;
    virtual int state() const = 0;
    virtual std::string remoteAddress() const = 0;  // dotted form, as the peer was accepted
    // At most that many of the bytes received; fewer when fewer are there.
    virtual std::string read(std::size_t most) = 0;
    // Queues the bytes when the socket is connected; returns the unsent output after it (0 when the
    // socket is not connected), which every send must look at.
    virtual std::size_t send(std::string_view bytes) = 0;
    // A frame that EventLoop::share returned: the socket may keep a reference instead of a copy.
    virtual std::size_t sendShared(std::string_view frame) { return send(frame); }
    // Graceful: output already sent goes out before the connection ends. The state is closed at
    // once, so the socket is free for the next accept. A second close does nothing.
    virtual void close() = 0;
    // Abortive: the connection ends at once with a reset, nothing unsent goes out and no
    // descriptor is left behind. The state is closed at once.
    virtual void abort() = 0;
    // Unsent output still held for this socket, in bytes.
    virtual std::size_t pendingOutput() const = 0;
    // Output the peer has taken since the accept, in bytes: it moves only while the peer reads.
    virtual std::uint64_t delivered() const = 0;
};

struct ListenError {
    int number = 0;
    std::string description;
};

// The platform's error number for a local address already in use.
constexpr int errAddressInUse = 10048;

class Listener {
public:
    virtual ~Listener() = default;
    virtual void setConnectionRequest(std::function<void(RequestId)> handler) = 0;
    // An empty bind address listens on every local address.
    virtual bool listen(const std::string& bindAddress, int port, ListenError& error) = 0;
    virtual void close() = 0;
    virtual bool isListening() const = 0;
    virtual int localPort() const = 0;
    // The address a pending request comes from, dotted, before a socket takes it.
    virtual std::string requestAddress(RequestId request) const = 0;
    // Ends a request that no client socket will take, with a reset.
    virtual void reject(RequestId request) = 0;
};

// A timer with a millisecond period and an enabled flag. It ticks only while enabled and while its
// period is above 0. Enabling a timer that already runs changes nothing; a new period restarts the
// countdown of a running timer.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void setTick(std::function<void()> tick) = 0;
    virtual void setInterval(int milliseconds) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool enabled() const = 0;
};

class EventLoop {
public:
    virtual ~EventLoop() = default;
    // Lets pending output go out; each connection's output keeps its order, so a host may send it
    // when the running handler ends. No input or timer handler runs inside it, so the caller's
    // view of the tables stays valid across the call.
    virtual void yield() = 0;
    // Milliseconds since the system started, wrapping like a 32-bit counter.
    virtual std::int32_t tickCount() const = 0;
    // Runs one handler (a socket event, a timer tick, an operator action): nothing else runs
    // inside it, and handlers started inside it run as part of it.
    virtual void runHandler(const std::function<void()>& handler) = 0;
    // Work that waits until the outermost handler is done, before its output is written:
    // connections that cannot be served any more are dropped there, never in the middle of a walk
    // over connections, and sockets taken out of the array are freed.
    virtual void setAfterHandlers(std::function<void()> work) = 0;
    // One copy of a frame that goes to many connections; what it returns stays valid until the
    // output of the running handler has been written, and is handed to ClientSocket::sendShared.
    virtual std::string_view share(std::string_view frame) = 0;
    // Connections the server has closed whose last output is still going out: each holds a
    // descriptor until its peer has taken the output or a while has passed.
    virtual std::size_t closingConnections() const = 0;
    // Resets the connection that has been closing longest; false when none is closing.
    virtual bool resetOldestClosing() = 0;
};

// Pseudo-random numbers in [0, 1). Never seeded: every run draws the same sequence.
class Random {
public:
    virtual ~Random() = default;
    virtual double next() = 0;
};

struct LocalTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalTime now() const = 0;
};

class Host {
public:
    virtual ~Host() = default;
    virtual std::unique_ptr<ClientSocket> createClientSocket() = 0;
    virtual std::unique_ptr<Timer> createTimer() = 0;
    virtual Listener& listener() = 0;
    virtual EventLoop& loop() = 0;
    virtual Random& random() = 0;
    virtual Clock& clock() = 0;
};

// The generator the server has always drawn from: a 24-bit linear congruential sequence that starts
// from the same state in every run.
class RepeatableRandom final : public Random {
public:
    double next() override {
        state_ = (state_ * 0x43FD43FDu + 0xC39EC3u) & 0xFFFFFFu;
        return static_cast<double>(state_) / 16777216.0;
    }

private:
    std::uint32_t state_ = 0x50000u;
};

}  // namespace murmur
