#include "support/WireClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <utility>

namespace murmur::test {

using Clock = std::chrono::steady_clock;

WireClient::WireClient(int port, int receiveBuffer, const char* host, const char* from)
    : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (from) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            close();
            throw std::runtime_error("cannot bind to " + std::string(from));
        }
    }
    // Set before connecting, so that the window the server sees is small from the start.
    if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    int one = 1;
    // Each send is meant to reach the server as the test wrote it.
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, host, &address.sin_addr);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close();
        throw std::runtime_error("cannot connect to " + std::string(host) + ":" + std::to_string(port));
    }
}

void WireClient::send(const std::string& bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("send failed");
        at += static_cast<std::size_t>(n);
    }
}

bool WireClient::pump(std::chrono::milliseconds timeout) {
    pollfd pfd{fd_, POLLIN, 0};
    if (ended_ || ::poll(&pfd, 1, static_cast<int>(timeout.count())) <= 0) return !ended_;
    char buffer[65536];
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) inbox_.append(buffer, static_cast<std::size_t>(n));
    // An orderly end or a reset: either way the server is gone from this connection.
    else if (n == 0 || errno != EINTR) ended_ = true;
    return !ended_;
}

std::vector<Packet> WireClient::takePackets(std::size_t count, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    std::vector<Packet> out;
    for (bool open = pump(0ms);; open = pump(timeLeft(deadline))) {
        for (const Packet& p : decode(inbox_)) {
            std::string bytes = frame(p.id, p.payload);
            if (p.id < 0 || inbox_.compare(0, bytes.size(), bytes) != 0) break;
            inbox_.erase(0, bytes.size());
            if (p.id == 11) send(bytes);
            else out.push_back(p);
        }
        if (out.size() >= count || !open || Clock::now() >= deadline) return out;
    }
}

std::optional<std::string> WireClient::waitClosed(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (pump(timeLeft(deadline)))
        if (Clock::now() >= deadline) return std::nullopt;
    return std::exchange(inbox_, {});
}

void WireClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace murmur::test
