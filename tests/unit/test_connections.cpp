// Accepts fill the socket array without gaps; a client's close is reported and cleaned up.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Lines = std::vector<std::string>;
using Packets = std::vector<Packet>;

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

// One batch of events, as the real host runs a turn of its loop: a broadcast passes the send limit
// of two clients that stopped reading; one of them then leaves and a newcomer takes its socket.
TEST_F(ConnectionsTest, ClientsOverTheSendLimitGoAfterTheBatchAndANewcomerInTheSlotStays) {
    server->limits.sendLimit = 100;
    int alice = logOn("alice"), bob = logOn("bob"), carol = logOn("carol"), dave = logOn("dave");
    for (int stalled : {bob, carol}) {
        socket(stalled).reading = false;
        socket(stalled).unsent = 90;
    }
    const Packet line = packet(2, {"alice", "a line of more than ten bytes"});
    int erin = -1;
    host.runHandler([&] {
        deliver(alice, frame(2, fields({"alice", "a line of more than ten bytes"})));
        EXPECT_EQ(socket(bob).state(), sckConnected);  // nobody goes in the middle of the walk
        EXPECT_EQ(received(dave), Packets{line});      // and later clients still get the line
        deliver(dave, frame(2, fields({"dave", "more"})));  // nothing more for a client over the limit
        socket(carol).peerCloses();
        erin = connect("10.0.0.9");
        deliver(erin, frame(1, fields({"erin", "", "1"})));
    });
    EXPECT_EQ(erin, carol);
    const clsUserData* newcomer = server->users.find(static_cast<ConnectionNumber>(erin));
    ASSERT_TRUE(newcomer && newcomer->hasLoggedIn);
    EXPECT_EQ(socket(erin).state(), sckConnected);
    EXPECT_EQ(socket(bob).state(), sckClosed);
    EXPECT_FALSE(server->users.contains(static_cast<ConnectionNumber>(bob)));
    EXPECT_EQ(decode(socket(bob).takeSent()), Packets{line});
    EXPECT_EQ(chatLines(), (Lines{"<alice (Channel: Main)> a line of more than ten bytes", "<dave (Channel: Main)> more",
                                  "Connection #3 (from 10.0.0.1) has logged out of Murmur.",
                                  "Connection #3 (from 10.0.0.9) connected to Murmur with the nickname: erin. (0ms ping)",
                                  "Connection #2 (from 10.0.0.1) has logged out of Murmur."}));
    EXPECT_EQ(received(dave), (Packets{packet(4, {"carol"}), packet(1, {"erin", "1", "0"}), {15, "erin"}, packet(4, {"bob"})}));
    EXPECT_EQ(server->lstUsers, (Lines{"alice", "dave", "erin"}));
}

}  // namespace
}  // namespace murmur::test
