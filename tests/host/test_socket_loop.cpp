// The real socket loop on loopback: frames shared by many connections and each connection's own
// bytes reach every peer in the order they were sent, whatever the kernel takes at a time.
#include <QCoreApplication>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "host/qt/QtHost.h"

namespace murmur {
namespace {

// A peer that reads only when asked to, through a small receive buffer, so that the server's
// writes are taken in part.
class Peer {
public:
    explicit Peer(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int small = 4096;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    }
    ~Peer() { ::close(fd_); }
    // Reads what is there without waiting; false once the server has ended the connection.
    bool take() {
        char buffer[65536];
        for (;;) {
            ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
            else return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    std::string received;

private:
    int fd_ = -1;
};

class SocketLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.listener().setConnectionRequest([this](RequestId request) {
            auto socket = host.createClientSocket();
            ASSERT_TRUE(socket->accept(request));
            sockets.push_back(std::move(socket));
        });
        ListenError error;
        ASSERT_TRUE(host.listener().listen("127.0.0.1", 0, error)) << error.description;
    }
    // A connected peer and the server's socket for it.
    std::pair<std::unique_ptr<Peer>, ClientSocket*> connectPeer() {
        auto peer = std::make_unique<Peer>(host.listener().localPort());
        std::size_t before = sockets.size();
        spinUntil([&] { return sockets.size() > before; });
        return {std::move(peer), sockets.back().get()};
    }
    template <typename Done>
    bool spinUntil(Done done) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }
    // The peers read until each has the bytes it is expected to get, or the connection ends.
    void readAll(const std::vector<Peer*>& peers, const std::vector<std::size_t>& sizes) {
        spinUntil([&] {
            bool done = true;
            for (std::size_t i = 0; i < peers.size(); ++i)
                if (peers[i]->take() && peers[i]->received.size() < sizes[i]) done = false;
            return done;
        });
    }
    std::string_view share(const std::string& frame) { return host.loop().share(frame); }

    QtHost host;
    std::vector<std::unique_ptr<ClientSocket>> sockets;
};

// Frame i of a stream: its number and a filler of its own, so that a byte out of place shows.
std::string numbered(int i, std::size_t size) {
    std::string frame = "<" + std::to_string(i) + ">";
    frame.resize(size, static_cast<char>('a' + i % 26));
    return frame;
}

TEST_F(SocketLoopTest, SharedFramesAndOwnBytesKeepEachConnectionsOrderAcrossBatches) {
    auto [peer1, one] = connectPeer();
    auto [peer2, two] = connectPeer();
    host.runHandler([&] {
        one->send("a");
        std::string_view shared = share("B");
        one->sendShared(shared);
        two->sendShared(shared);
        one->send("c");
        two->sendShared(share("D"));
        one->sendShared(share("E"));
    });
    host.runHandler([&] {
        std::string_view shared = share("F");
        two->send("g");
        two->sendShared(shared);
        one->sendShared(shared);
    });
    readAll({peer1.get(), peer2.get()}, {5, 4});
    EXPECT_EQ(peer1->received, "aBcEF");
    EXPECT_EQ(peer2->received, "BDgF");
}

TEST_F(SocketLoopTest, WhatThePeerDoesNotTakeIsKeptAndCountedUntilItIsRead) {
    auto [slow, stalled] = connectPeer();
    auto [fast, reading] = connectPeer();
    std::string expected;
    std::size_t unsent = 0;
    // Far more than the kernel holds for a peer that does not read: the rest stays with the
    // server while later batches reuse the space the shared frames were in.
    for (int batch = 0; batch < 40; ++batch) {
        host.runHandler([&] {
            for (int i = 0; i < 8; ++i) {
                std::string frame = numbered(batch * 8 + i, 9000);
                expected += frame;
                std::string_view shared = share(frame);
                reading->sendShared(shared);
                unsent = stalled->sendShared(shared);
                if (i == 3) {
                    expected += "own";
                    reading->send("own");
                    unsent = stalled->send("own");
                }
                // A send tells what is really unsent: all queued but what the kernel has taken.
                ASSERT_EQ(unsent + stalled->delivered(), expected.size());
            }
        });
        QCoreApplication::processEvents();
        fast->take();
    }
    EXPECT_GT(unsent, 512u * 1024);  // well beyond what the kernel holds
    EXPECT_EQ(stalled->pendingOutput() + stalled->delivered(), expected.size());
    readAll({slow.get(), fast.get()}, {expected.size(), expected.size()});
    EXPECT_TRUE(slow->received == expected) << "first difference at "
                                            << std::mismatch(expected.begin(), expected.end(), slow->received.begin(),
                                                             slow->received.end()).first - expected.begin();
    EXPECT_TRUE(fast->received == expected);
    EXPECT_EQ(stalled->pendingOutput(), 0u);
    EXPECT_EQ(stalled->delivered(), expected.size());
}

TEST_F(SocketLoopTest, AConnectionClosedWithSharedFramesUnsentStillDeliversThemAndThenEnds) {
    auto [closedPeer, closing] = connectPeer();
    auto [abortedPeer, aborting] = connectPeer();
    auto [otherPeer, other] = connectPeer();
    std::string expected;
    host.runHandler([&] {
        for (int i = 0; i < 30; ++i) {
            std::string frame = numbered(i, 9000);
            expected += frame;
            std::string_view shared = share(frame);
            closing->sendShared(shared);
            aborting->sendShared(shared);
            other->sendShared(shared);
        }
        closing->close();
        aborting->abort();
    });
    // Later batches take the space of the first; the closed connection's bytes are its own by then.
    std::string later;
    for (int batch = 0; batch < 10; ++batch) {
        host.runHandler([&] {
            std::string frame = numbered(100 + batch, 9000);
            later += frame;
            other->sendShared(share(frame));
        });
        QCoreApplication::processEvents();
    }
    readAll({closedPeer.get(), otherPeer.get()}, {expected.size(), expected.size() + later.size()});
    EXPECT_TRUE(closedPeer->received == expected) << closedPeer->received.size() << " of " << expected.size();
    EXPECT_TRUE(spinUntil([&] { return !closedPeer->take(); }));  // and then the end
    EXPECT_TRUE(otherPeer->received == expected + later);
    EXPECT_FALSE(abortedPeer->take());
    EXPECT_LT(abortedPeer->received.size(), expected.size());
}

}  // namespace
}  // namespace murmur

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
