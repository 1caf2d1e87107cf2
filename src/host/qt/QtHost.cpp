#include "host/qt/QtHost.h"

#include <QTimer>
#include <ctime>

#include "host/qt/SocketLoop.h"

namespace murmur {
namespace {

class QtTimer final : public Timer {
public:
    explicit QtTimer(QtHost& host) : host_(host) {
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            if (tick_) host_.runTick(tick_);
        });
    }

    void setTick(std::function<void()> tick) override { tick_ = std::move(tick); }
    void setInterval(int milliseconds) override {
        interval_ = milliseconds;
        timer_.setInterval(milliseconds > 0 ? milliseconds : 0);
        apply(true);
    }
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override {
        if (enabled == enabled_) return;
        enabled_ = enabled;
        apply(false);
    }
    bool enabled() const override { return enabled_; }

private:
    void apply(bool restart) {
        bool run = enabled_ && interval_ > 0;
        if (!run) timer_.stop();
        else if (restart || !timer_.isActive()) timer_.start();
    }

    QtHost& host_;
    QTimer timer_;
    std::function<void()> tick_;
    int interval_ = 0;
    bool enabled_ = false;
};

}  // namespace

QtHost::QtHost()
    : sockets_(std::make_unique<SocketLoop>([this](const std::function<void()>& handler) { runHandler(handler); })),
      listener_(std::make_unique<EpollListener>(*sockets_)) {}

QtHost::~QtHost() {
    listener_.reset();
    sockets_.reset();
}

std::unique_ptr<ClientSocket> QtHost::createClientSocket() { return std::make_unique<EpollClientSocket>(*sockets_); }
std::unique_ptr<Timer> QtHost::createTimer() { return std::make_unique<QtTimer>(*this); }
Listener& QtHost::listener() { return *listener_; }

void QtHost::runHandler(const std::function<void()>& handler) {
    ++depth_;
    try {
        handler();
    } catch (...) {
        --depth_;
        throw;
    }
    if (--depth_ > 0) return;
    ++depth_;
    if (afterHandlers_) afterHandlers_();
    --depth_;
    sockets_->flushSoon();
}

void QtHost::runTick(const std::function<void()>& tick) {
    // Without this a busy server would judge clients by replies it has not read yet.
    if (depth_ == 0) sockets_->drainInput();
    runHandler(tick);
}

// Each connection's output leaves in the order it was queued, and a closing socket is flushed
// before it goes, so inside a handler a yield has nothing to wait for: the flush at the end of
// the handler sends it. Flushing every connection at each yield made a storm of logons (each
// yields) cost every client one write per logon.
void QtHost::yield() {
    if (depth_ == 0) sockets_->flushSoon();
}

std::string_view QtHost::share(std::string_view frame) { return sockets_->share(frame); }

std::size_t QtHost::closingConnections() const { return sockets_->closingCount(); }

bool QtHost::resetOldestClosing() { return sockets_->resetOldestClosing(); }

std::int32_t QtHost::tickCount() const {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}

LocalTime QtHost::now() const {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&t, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

}  // namespace murmur
