// The host facilities of the real program, on Qt's event loop: the sockets on one epoll set,
// QTimer, the monotonic clock and the local time.
#pragma once

#include <memory>

#include "host/Host.h"

namespace murmur {

class EpollListener;
class SocketLoop;

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

    // Runs one handler of the server. Handlers never run inside one another; when the outermost
    // is done, the work left for after handlers runs and the collected output is written.
    void runHandler(const std::function<void()>& handler) override;
    // A timer's tick: the socket events that arrived before it are handled first.
    void runTick(const std::function<void()>& tick);

private:
    void yield() override;
    std::int32_t tickCount() const override;
    void setAfterHandlers(std::function<void()> work) override { afterHandlers_ = std::move(work); }
    std::string_view share(std::string_view frame) override;
    std::size_t closingConnections() const override;
    bool resetOldestClosing() override;
    LocalTime now() const override;

    std::unique_ptr<SocketLoop> sockets_;
    std::unique_ptr<EpollListener> listener_;
    RepeatableRandom random_;
    std::function<void()> afterHandlers_;
    int depth_ = 0;
};

}  // namespace murmur
