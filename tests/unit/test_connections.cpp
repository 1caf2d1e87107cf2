// Accepts fill the socket array without gaps; a client's close is reported and cleaned up.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "core/UserList.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

class ConnectionsTest : public ServerTest {
protected:
    void SetUp() override {
        start();
        chatLines();
    }
    void logOn(int c, const std::string& listName) {
        clsUserData* record = server->users.find(static_cast<ConnectionNumber>(c));
        record->hasLoggedIn = true;
        record->listName = listName;
        record->originalName = listName;
        addToUserList(*server, listName);
        refreshCountLabel(*server);
    }
};

TEST_F(ConnectionsTest, AcceptsTakeTheFirstFreeSocketAndCreateOnlyWhenNoneIsFree) {
    host.ticks = 5000;
    EXPECT_EQ(connect("10.0.0.1"), 0);
    EXPECT_EQ(socketCount(*server), 1);
    EXPECT_EQ(connect("10.0.0.2"), 1);
    EXPECT_EQ(connect("10.0.0.3"), 2);
    EXPECT_EQ(socketCount(*server), 3);

    const clsUserData* fresh = server->users.find(1);
    ASSERT_NE(fresh, nullptr);
    EXPECT_FALSE(fresh->hasLoggedIn);
    EXPECT_EQ(fresh->initialPing, 5000);
    EXPECT_EQ(fresh->listName, "");
    EXPECT_EQ(fresh->channel, "");

    socket(1).peerCloses();
    EXPECT_EQ(socketCount(*server), 3);  // not the highest: stays loaded and free
    EXPECT_EQ(socket(1).state(), sckClosed);
    EXPECT_EQ(connect("10.0.0.4"), 1);
    EXPECT_EQ(socket(1).remoteAddress(), "10.0.0.4");

    socket(2).peerCloses();
    EXPECT_EQ(socketCount(*server), 2);  // the highest goes
    socket(0).peerCloses();
    EXPECT_EQ(socketCount(*server), 2);  // socket 0 is never destroyed
    EXPECT_EQ(socket(0).state(), sckClosed);
    EXPECT_TRUE(chatLines().size() == 2 + 1);
}

TEST_F(ConnectionsTest, AnAcceptReplacesARecordLeftBehind) {
    int c = connect();
    logOn(c, "bob");
    server->users.find(0)->numRequests = 4;
    closeSocket(*server, 0);  // a refusal that keeps the record
    host.ticks = 9000;
    EXPECT_EQ(connect(), 0);
    const clsUserData* record = server->users.find(0);
    EXPECT_FALSE(record->hasLoggedIn);
    EXPECT_EQ(record->listName, "");
    EXPECT_EQ(record->numRequests, 0);
    EXPECT_EQ(record->initialPing, 9000);
}

TEST_F(ConnectionsTest, AClientsCloseIsReportedToTheOperatorAndEveryOtherConnectedClient) {
    int a = connect("10.0.0.1");
    int b = connect("10.0.0.2");
    int c = connect("10.0.0.3");
    int d = connect("10.0.0.4");
    logOn(a, "%Admin");
    logOn(b, "bob");
    logOn(c, "Bob");
    closeSocket(*server, static_cast<ConnectionNumber>(d));  // not connected: gets nothing

    socket(c).peerCloses();
    EXPECT_EQ(chatLines(), std::vector<std::string>{"Connection #3 (from 10.0.0.3) has logged out of Murmur."});
    const ChatLine& line = lastLine();
    ASSERT_EQ(line.pieces.size(), 4u);
    EXPECT_EQ(line.pieces[1], (ChatPiece{colour::yellow, "Connection #3 ("}));
    EXPECT_EQ(line.pieces[2], (ChatPiece{colour::white, "from 10.0.0.3"}));
    EXPECT_EQ(line.pieces[3], (ChatPiece{colour::yellow, ") has logged out of Murmur."}));

    EXPECT_EQ(received(a), (std::vector<Packet>{{4, "Bob"}}));
    EXPECT_EQ(received(b), (std::vector<Packet>{{4, "Bob"}}));
    EXPECT_EQ(socket(d).sent, "");
    EXPECT_FALSE(server->users.contains(static_cast<ConnectionNumber>(c)));
    // The first entry equal without regard to case goes: "bob", not "Bob".
    EXPECT_EQ(server->lstUsers, (std::vector<std::string>{"%Admin", "Bob"}));
    EXPECT_EQ(server->lblUsers, "Total Users: 2");
}

TEST_F(ConnectionsTest, AClientThatNeverLoggedOnLeavesAnEmptyNotice) {
    int a = connect();
    int b = connect();
    logOn(a, "alice");
    socket(b).peerCloses();
    EXPECT_EQ(chatLines(), std::vector<std::string>{"Connection #2 (from 10.0.0.1) has logged out of Murmur."});
    EXPECT_EQ(socket(a).takeSent(), std::string("\x04" "0\0", 3));
    EXPECT_EQ(server->lstUsers, std::vector<std::string>{"alice"});
    EXPECT_EQ(server->lblUsers, "Total Users: 1");
}

TEST_F(ConnectionsTest, ACloseWithoutRecordOnlyFreesTheSocket) {
    int a = connect();
    int b = connect();
    server->users.remove(static_cast<ConnectionNumber>(b));
    socket(b).peerCloses();
    EXPECT_TRUE(chatLines().empty());
    EXPECT_EQ(socket(a).sent, "");
    EXPECT_EQ(socket(b).state(), sckClosed);
    EXPECT_EQ(connect(), b);
}

}  // namespace
}  // namespace murmur::test
