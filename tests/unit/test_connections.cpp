// Accepts fill the socket array without gaps; a client's close is reported and cleaned up.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

class ConnectionsTest : public ServerTest {
protected:
    void SetUp() override { start(); }
};

TEST_F(ConnectionsTest, AcceptsTakeTheLowestFreeSocketAndOnlyTheHighestIsDestroyed) {
    host.ticks = 5000;
    EXPECT_EQ(connect("10.0.0.1"), 0);
    EXPECT_EQ(connect("10.0.0.2"), 1);
    EXPECT_EQ(connect("10.0.0.3"), 2);
    EXPECT_EQ(server->users.find(1)->initialPing, 5000);
    socket(1).peerCloses();
    EXPECT_EQ(socketCount(*server), 3);
    EXPECT_EQ(connect("10.0.0.4"), 1);
    EXPECT_EQ(socket(1).remoteAddress(), "10.0.0.4");
    socket(2).peerCloses();
    EXPECT_EQ(socketCount(*server), 2);
    socket(1).peerCloses();
    socket(0).peerCloses();
    EXPECT_EQ(socketCount(*server), 1);  // socket 0 is never destroyed
    EXPECT_EQ(socket(0).state(), sckClosed);
    EXPECT_EQ(connect(), 0);
    // A refusal that closes keeps the record until the next accept replaces it.
    server->users.find(0)->numRequests = 4;
    closeKeepingRecord(0);
    EXPECT_EQ(connect(), 0);
    EXPECT_EQ(server->users.find(0)->numRequests, 0);
}

TEST_F(ConnectionsTest, AClientsCloseIsReportedToTheOperatorAndEveryOtherConnectedClient) {
    int admin = logOn("Admin", "1", "10.0.0.1");
    int bob = logOn("bob", "1", "10.0.0.3");
    int waiting = connect("10.0.0.4");
    int gone = connect("10.0.0.5");
    closeKeepingRecord(gone);
    server->users.find(static_cast<ConnectionNumber>(bob))->listName = "BOB";  // the list entry is found whatever its case
    socket(bob).peerCloses();
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "}, {colour::yellow, "Connection #2 ("},
        {colour::white, "from 10.0.0.3"}, {colour::yellow, ") has logged out of Murmur."}}));
    EXPECT_EQ(received(admin), (std::vector<Packet>{{4, "BOB"}}));
    EXPECT_EQ(received(waiting), (std::vector<Packet>{{4, "BOB"}}));
    EXPECT_EQ(socket(gone).sent, "");
    EXPECT_FALSE(server->users.contains(static_cast<ConnectionNumber>(bob)));
    EXPECT_EQ(server->lstUsers, std::vector<std::string>{"Admin"});
    EXPECT_EQ(server->lblUsers, "Total Users: 1");

    socket(waiting).peerCloses();  // never logged on: an empty name
    EXPECT_EQ(socket(admin).takeSent(), std::string("\x04" "0\0", 3));
}

}  // namespace
}  // namespace murmur::test
