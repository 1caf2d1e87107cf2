// The host facilities of the real program, on Qt's event loop: QTcpServer and QTcpSocket, QTimer,
// the monotonic clock and the local time.
#pragma once

#include <memory>
#include <unordered_set>

#include "host/Host.h"

class QTcpSocket;

namespace murmur {

class QtListener;
class QtClientSocket;

class QtHost final : public Host, private EventLoop, private Clock {
public:
    QtHost();
    ~QtHost() override;

    std::unique_ptr<ClientSocket> createClientSocket() override;
    std::unique_ptr<Timer> createTimer() override;
    Listener& listener() override;
    EventLoop& loop() override { return *this; }
    Random& random() override { return random_; }
    Clock& clock() override { return *this; }

    // Runs one handler of the server. A handler never runs inside another: socket output that a
    // handler flushes may make Qt report errors or closes at once, and those reports wait until
    // the running handler is done.
    void runHandler(const std::function<void()>& handler) override;
    bool insideHandler() const { return depth_ > 0; }

    void outputPending(QtClientSocket* socket) { unflushed_.insert(socket); }
    void forget(QtClientSocket* socket) { unflushed_.erase(socket); }

private:
    void yield() override;
    std::int32_t tickCount() const override;
    LocalTime now() const override;

    std::unique_ptr<QtListener> listener_;
    RepeatableRandom random_;
    std::unordered_set<QtClientSocket*> unflushed_;
    int depth_ = 0;
};

}  // namespace murmur
