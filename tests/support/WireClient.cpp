// A TCP client of the real program.
#include "support/WireClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace murmur::test {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

WireClient::WireClient(int port, int receiveBuffer) : WireClient(port, kPatience, receiveBuffer) {}

WireClient::WireClient(int port, std::chrono::milliseconds timeout, int receiveBuffer) {
    auto deadline = Clock::now() + timeout;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    int lastError = 0;
    do {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
        // Set before the connection, so the window the server sees is small from the start.
        if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            int one = 1;
            // Each send is meant to reach the server as the test wrote it.
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            fd_ = fd;
            return;
        }
        lastError = errno;
        ::close(fd);
        std::this_thread::sleep_for(20ms);
    } while (Clock::now() < deadline);
    throw std::runtime_error("cannot connect to 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(lastError));
}

WireClient::~WireClient() { close(); }

std::vector<Packet> WireClient::takePackets(std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<Packet> out;
    auto deadline = Clock::now() + timeout;
    pump(std::chrono::milliseconds(0));  // whatever has arrived already
    for (;;) {
        // Only whole packets are taken; a packet still arriving stays in the inbox.
        std::vector<Packet> got = decode(inbox_);
        std::size_t whole = 0;
        for (const Packet& p : got) {
            if (p.id < 0) break;
            whole += 1 + std::to_string(p.payload.size()).size() + 1 + p.payload.size();
            if (p.id == 11) send(frame(11, ""));
            else out.push_back(p);
        }
        inbox_.erase(0, whole);
        if (out.size() >= count || Clock::now() >= deadline || !pump(std::chrono::milliseconds(remainingMs(deadline))))
            return out;
    }
}

void WireClient::send(const std::string& bytes) {
    if (fd_ < 0) throw std::logic_error("the client is closed");
    std::size_t at = 0;
    while (at < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error(std::string("send: ") + std::strerror(errno));
        at += static_cast<std::size_t>(n);
    }
}

bool WireClient::pump(std::chrono::milliseconds timeout) {
    if (fd_ < 0 || peerClosed_) return false;
    pollfd pfd{fd_, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&pfd, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return true;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            inbox_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        // An orderly end, or a reset: either way the server is gone from this connection.
        peerClosed_ = true;
        return false;
    }
}

std::string WireClient::receive(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (inbox_.empty() && pump(std::chrono::milliseconds(remainingMs(deadline))) && Clock::now() < deadline) {
    }
    pump(0ms);
    return take();
}

std::vector<Packet> WireClient::packets(std::chrono::milliseconds timeout) { return decode(receive(timeout)); }

bool WireClient::waitForBytes(std::size_t count, std::chrono::milliseconds timeout) {
    return waitForBytes([count](const std::string& bytes) { return bytes.size() >= count; }, timeout);
}

bool WireClient::waitForBytes(const std::function<bool(const std::string&)>& enough,
                              std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        if (enough(inbox_)) return true;
        if (Clock::now() >= deadline) return false;
        if (!pump(std::chrono::milliseconds(remainingMs(deadline)))) return enough(inbox_);
    }
}

std::string WireClient::take() {
    std::string out;
    out.swap(inbox_);
    return out;
}

std::optional<std::string> WireClient::waitClosed(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (pump(std::chrono::milliseconds(remainingMs(deadline)))) {
        if (Clock::now() >= deadline) return std::nullopt;
    }
    if (!peerClosed_) return std::nullopt;
    return take();
}

void WireClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace murmur::test
