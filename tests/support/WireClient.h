// A TCP client of the real program, speaking raw bytes so a test can send anything, whole or
// in pieces, and see exactly what came back.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/ServerProcess.h"
#include "support/Wire.h"

namespace murmur::test {

class WireClient {
public:
    // Connects to 127.0.0.1 on the port, trying again until the timeout since the server may not
    // listen yet; throws when no connection could be made.
    explicit WireClient(int port, std::chrono::milliseconds timeout = kPatience) : WireClient(port, timeout, 0) {}
    // With a receive buffer of that many bytes, for a client that reads slowly or not at all.
    WireClient(int port, int receiveBuffer);
    WireClient(const WireClient&) = delete;
    WireClient& operator=(const WireClient&) = delete;
    ~WireClient();

    void send(const std::string& bytes);

    // Waits until something arrives or the server ends the connection, then returns every byte
    // received and not taken yet (nothing at the timeout).
    std::string receive(std::chrono::milliseconds timeout = kPatience);
    std::vector<Packet> packets(std::chrono::milliseconds timeout = kPatience);

    // Waits until the bytes not taken yet number at least count, or satisfy the predicate.
    bool waitForBytes(std::size_t count, std::chrono::milliseconds timeout = kPatience);
    bool waitForBytes(const std::function<bool(const std::string&)>& enough,
                      std::chrono::milliseconds timeout = kPatience);
    // The bytes received and not taken yet; take() also forgets them.
    const std::string& inbox() const { return inbox_; }
    std::string take();

    // Waits until at least count whole packets other than keep-alives are in, answers every
    // keep-alive among them, and returns (and forgets) the others.
    std::vector<Packet> takePackets(std::size_t count, std::chrono::milliseconds timeout = kPatience);

    // Waits for the server to end the connection. Then returns the bytes received before the end
    // and not taken yet; nothing when the connection is still open at the timeout.
    std::optional<std::string> waitClosed(std::chrono::milliseconds timeout = kPatience);
    bool closedByServer() const { return peerClosed_; }

    // Ends the connection from this side.
    void close();

private:
    WireClient(int port, std::chrono::milliseconds timeout, int receiveBuffer);
    // Reads what has arrived, waiting at most the timeout for something; false once it has ended.
    bool pump(std::chrono::milliseconds timeout);

    int fd_ = -1;
    std::string inbox_;
    bool peerClosed_ = false;
};

}  // namespace murmur::test
