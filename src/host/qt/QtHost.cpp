#include "host/qt/QtHost.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <ctime>
#include <unistd.h>

namespace murmur {

// Closing sockets drain what was sent to them; a peer that never reads cannot hold one for ever.
constexpr int drainLimitMs = 60000;

namespace {

std::string dottedAddress(const QHostAddress& address) {
    bool isV4 = false;
    quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4) return QHostAddress(v4).toString().toStdString();
    return address.toString().toStdString();
}

}  // namespace

class QtClientSocket final : public ClientSocket {
public:
    explicit QtClientSocket(QtHost& host) : host_(host) {}
    ~QtClientSocket() override { close(); }

    void setEvents(Events events) override { events_ = std::move(events); }

    bool accept(RequestId request) override {
        close();
        auto* socket = new QTcpSocket();
        if (!socket->setSocketDescriptor(static_cast<qintptr>(request))) {
            delete socket;
            return false;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket_ = socket;
        peerClosed_ = false;
        remote_ = dottedAddress(socket->peerAddress());
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { report(socket, false); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] { report(socket, true); });
        QObject::connect(socket, &QTcpSocket::errorOccurred, socket, [this, socket](QAbstractSocket::SocketError) {
            if (socket->state() != QAbstractSocket::ConnectedState) report(socket, true);
        });
        return true;
    }

    int state() const override {
        if (!socket_) return sckClosed;
        return peerClosed_ ? sckClosing : sckConnected;
    }

    std::string remoteAddress() const override { return remote_; }

    std::string readAll() override {
        if (!socket_) return {};
        QByteArray bytes = socket_->readAll();
        return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }

    void send(std::string_view bytes) override {
        if (!socket_ || peerClosed_) return;
        socket_->write(bytes.data(), static_cast<qint64>(bytes.size()));
        host_.outputPending(this);
    }

    void close() override {
        host_.forget(this);
        if (!socket_) return;
        QTcpSocket* socket = socket_;
        socket_ = nullptr;
        QObject::disconnect(socket, nullptr, socket, nullptr);
        if (socket->state() == QAbstractSocket::UnconnectedState) {
            socket->deleteLater();
            return;
        }
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(drainLimitMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
    }

    std::size_t pendingOutput() const override {
        return socket_ ? static_cast<std::size_t>(socket_->bytesToWrite()) : 0;
    }

    void flush() {
        if (socket_) socket_->flush();
    }

private:
    // Data or a close from the peer. Reports for a Qt socket this slot no longer holds are stale.
    void report(QTcpSocket* from, bool closed) {
        if (from != socket_) return;
        if (host_.insideHandler()) {
            QPointer<QTcpSocket> guard(from);
            QTimer::singleShot(0, &context_, [this, guard, closed] {
                if (guard) report(guard.data(), closed);
            });
            return;
        }
        if (closed) {
            if (peerClosed_) return;
            peerClosed_ = true;
            if (events_.closed) host_.runHandler(events_.closed);
        } else if (events_.dataArrival) {
            host_.runHandler(events_.dataArrival);
        }
    }

    QtHost& host_;
    QObject context_;  // deferred reports die with the slot
    Events events_;
    QTcpSocket* socket_ = nullptr;
    bool peerClosed_ = false;
    std::string remote_;
};

class QtListener final : public QTcpServer, public Listener {
public:
    explicit QtListener(QtHost& host) : host_(host) {}

    void setConnectionRequest(std::function<void(RequestId)> handler) override { handler_ = std::move(handler); }

    bool listen(const std::string& bindAddress, int port, ListenError& error) override {
        QTcpServer::close();
        QHostAddress address = bindAddress.empty() ? QHostAddress(QHostAddress::Any)
                                                   : QHostAddress(QString::fromStdString(bindAddress));
        bool ok = QTcpServer::listen(address, static_cast<quint16>(port));
        if (!ok && bindAddress.empty() && serverError() != QAbstractSocket::AddressInUseError)
            ok = QTcpServer::listen(QHostAddress::AnyIPv4, static_cast<quint16>(port));
        if (ok) return true;
        error = describe(serverError());
        return false;
    }

    void close() override { QTcpServer::close(); }
    bool isListening() const override { return QTcpServer::isListening(); }
    int localPort() const override { return serverPort(); }
    void reject(RequestId request) override { ::close(static_cast<int>(request)); }

protected:
    void incomingConnection(qintptr descriptor) override {
        if (!handler_) {
            reject(descriptor);
            return;
        }
        host_.runHandler([this, descriptor] { handler_(descriptor); });
    }

private:
    ListenError describe(QAbstractSocket::SocketError error) const {
        switch (error) {
            case QAbstractSocket::AddressInUseError: return {errAddressInUse, "Address in use"};
            case QAbstractSocket::SocketAccessError: return {10013, "Permission denied"};
            case QAbstractSocket::SocketAddressNotAvailableError: return {10049, "Address not available"};
            default: return {10022, errorString().toStdString()};
        }
    }

    QtHost& host_;
    std::function<void(RequestId)> handler_;
};

class QtTimer final : public Timer {
public:
    explicit QtTimer(QtHost& host) : host_(host) {
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            if (tick_) host_.runHandler(tick_);
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

QtHost::QtHost() : listener_(std::make_unique<QtListener>(*this)) {}
QtHost::~QtHost() = default;

std::unique_ptr<ClientSocket> QtHost::createClientSocket() { return std::make_unique<QtClientSocket>(*this); }
std::unique_ptr<Timer> QtHost::createTimer() { return std::make_unique<QtTimer>(*this); }
Listener& QtHost::listener() { return *listener_; }

void QtHost::runHandler(const std::function<void()>& handler) {
    struct Depth {
        int& depth;
        explicit Depth(int& d) : depth(d) { ++depth; }
        ~Depth() { --depth; }
    } inside(depth_);
    handler();
}

void QtHost::yield() {
    std::unordered_set<QtClientSocket*> sockets;
    sockets.swap(unflushed_);
    for (QtClientSocket* socket : sockets) socket->flush();
}

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
