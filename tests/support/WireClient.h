// A TCP client of the real program, speaking raw bytes so that a test can send anything, whole or
// in pieces, and see exactly what came back.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/ServerProcess.h"
#include "support/Wire.h"

namespace murmur::test {

class WireClient {
public:
    // Connected, or throws; a receive buffer of that many bytes makes a client that reads slowly.
    // A loopback address to connect from makes a client of another address.
    explicit WireClient(int port, int receiveBuffer = 0, const char* host = "127.0.0.1", const char* from = nullptr);
    WireClient(const WireClient&) = delete;
    WireClient& operator=(const WireClient&) = delete;
    ~WireClient() { close(); }

    void send(const std::string& bytes);

    // Waits until at least count whole packets other than keep-alives are in, answers every
    // keep-alive among them, and returns the others. A packet is taken only when its bytes are
    // exactly its frame, so comparing packets compares bytes.
    std::vector<Packet> takePackets(std::size_t count, std::chrono::milliseconds timeout = kPatience);

    // Waits for the server to end the connection; then the bytes not taken before the end, and
    // nothing when the connection is still open at the timeout.
    std::optional<std::string> waitClosed(std::chrono::milliseconds timeout = kPatience);

    void close();

private:
    // Reads what has arrived, waiting at most the timeout; false once the server has ended it.
    bool pump(std::chrono::milliseconds timeout);

    int fd_ = -1;
    std::string inbox_;
    bool ended_ = false;
};

}  // namespace murmur::test
