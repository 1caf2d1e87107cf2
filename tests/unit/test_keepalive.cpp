// The ping cycle: who is pinged, how replies are counted, and who is dropped as stale.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using namespace std::string_literals;

const std::string kPing = "\x0b" "0\0"s;

class KeepAliveTest : public ServerTest {
protected:
    void SetUp() override {
        dir.write("admin.txt", "ad\r\n");
        start();
    }

    FakeTimer& pinger() { return timer(server->tmrKeepAlive); }
    FakeTimer& reaper() { return timer(server->tmrKillClients); }
    void reply(int c) { deliver(c, frame(11, "")); }

    const clsUserData& record(int c) { return *server->users.find(static_cast<ConnectionNumber>(c)); }
    bool hasRecord(int c) { return server->users.contains(static_cast<ConnectionNumber>(c)); }

    // One ping, the given connections answer it, then the reaping tick unless told otherwise.
    void cycle(const std::vector<int>& answering, bool reap = true) {
        ASSERT_TRUE(pinger().fire());
        for (int c : answering) reply(c);
        if (reap) {
            ASSERT_TRUE(reaper().fire());
        }
    }
};

TEST_F(KeepAliveTest, APingGoesToLoggedOnConnectedUsersOnlyAndHandsOverToTheReaper) {
    EXPECT_TRUE(pinger().enabled());
    EXPECT_EQ(pinger().interval(), 800);
    EXPECT_FALSE(reaper().enabled());
    EXPECT_EQ(reaper().interval(), 250);

    int alice = logOn("alice");
    int lurker = connect("10.0.0.2");
    int bob = logOn("bob");
    int gone = logOn("dave");
    // Closed from this side, with no close event: the record stays behind.
    closeSocket(*server, static_cast<ConnectionNumber>(gone));
    forgetTraffic();

    ASSERT_TRUE(pinger().fire());
    EXPECT_EQ(socket(alice).takeSent(), kPing);
    EXPECT_EQ(socket(bob).takeSent(), kPing);
    EXPECT_EQ(socket(lurker).takeSent(), "");
    EXPECT_EQ(record(alice).numRequests, 1);
    EXPECT_EQ(record(bob).numRequests, 1);
    EXPECT_EQ(record(lurker).numRequests, 0);
    EXPECT_EQ(record(gone).numRequests, 0);
    EXPECT_FALSE(pinger().enabled());
    EXPECT_TRUE(reaper().enabled());
    EXPECT_FALSE(pinger().fire());

    ASSERT_TRUE(reaper().fire());
    EXPECT_TRUE(pinger().enabled());
    EXPECT_FALSE(reaper().enabled());
    EXPECT_EQ(record(alice).numRequests, 1);
    EXPECT_EQ(chatLines(), std::vector<std::string>{});

    // Neither the one that never logged on nor the one left behind ever reaches five pings.
    for (int i = 0; i < 6; ++i) cycle({});
    EXPECT_TRUE(hasRecord(lurker));
    EXPECT_TRUE(hasRecord(gone));
    EXPECT_EQ(record(lurker).numRequests, 0);
    EXPECT_EQ(record(gone).numRequests, 0);
    EXPECT_EQ(socket(lurker).state(), sckConnected);
}

TEST_F(KeepAliveTest, ThreeAnswersInFiveCyclesKeepAClientAndTwoDropItAtTheReapingAfterTheFifthPing) {
    int alice = logOn("alice");
    int lurker = connect("10.0.0.2");
    int ad = logOn("ad");
    ASSERT_EQ(record(ad).listName, "%ad");
    int sockets = socketCount(*server);

    for (int i = 0; i < 5; ++i) {
        std::vector<int> answering;
        if (i < 3) answering.push_back(alice);
        if (i < 2) answering.push_back(ad);
        cycle(answering, i < 4);
    }
    EXPECT_EQ(socket(alice).takeSent(), kPing + kPing + kPing + kPing + kPing);
    EXPECT_EQ(socket(ad).takeSent(), kPing + kPing + kPing + kPing + kPing);
    EXPECT_EQ(record(alice).numRequests, 5);
    EXPECT_EQ(record(alice).numReplies, 3);
    EXPECT_EQ(record(ad).numRequests, 5);
    EXPECT_EQ(record(ad).numReplies, 2);
    EXPECT_EQ(server->lblUsers, "Total Users: 2");

    std::size_t mark = host.events.size();
    ASSERT_TRUE(reaper().fire());

    EXPECT_EQ(record(alice).numRequests, 0);
    EXPECT_EQ(record(alice).numReplies, 0);
    EXPECT_EQ(socket(alice).state(), sckConnected);

    EXPECT_FALSE(hasRecord(ad));
    EXPECT_EQ(socket(ad).state(), sckClosed);
    EXPECT_EQ(socketCount(*server), sockets);
    EXPECT_EQ(server->lstUsers, std::vector<std::string>{"alice"});
    EXPECT_EQ(server->lblUsers, "Total Users: 1");
    EXPECT_EQ(lastLine().pieces,
              (std::vector<ChatPiece>{{colour::white, "[12:34:56] "},
                                      {colour::red, "Socket #3 is stale. Socket has been disconnected."}}));
    EXPECT_EQ(chatLines(), std::vector<std::string>{"Socket #3 is stale. Socket has been disconnected."});
    EXPECT_EQ(received(alice), std::vector<Packet>{packet(4, {"%ad"})});
    EXPECT_EQ(received(lurker), std::vector<Packet>{packet(4, {"%ad"})});
    EXPECT_EQ(socket(ad).takeSent(), "");
    // Closed first, then the others are told.
    EXPECT_EQ(std::vector<std::string>(host.events.begin() + static_cast<std::ptrdiff_t>(mark), host.events.end()),
              (std::vector<std::string>{"close " + std::to_string(socket(ad).id()),
                                        "send " + std::to_string(socket(alice).id()),
                                        "send " + std::to_string(socket(lurker).id())}));

    // The survivor starts over: three more answers in five more cycles keep it again.
    for (int i = 0; i < 5; ++i) cycle(i % 2 == 0 ? std::vector<int>{alice} : std::vector<int>{});
    EXPECT_TRUE(hasRecord(alice));
    EXPECT_EQ(record(alice).numRequests, 0);
    EXPECT_EQ(record(alice).numReplies, 0);
    EXPECT_EQ(socket(alice).state(), sckConnected);
}

TEST_F(KeepAliveTest, EveryReplyCountsAndOnlyAnExactListEntryGoesWithTheDroppedClient) {
    int alice = logOn("alice");
    int bob = logOn("bob");
    int carol = logOn("carol");

    // Answers sent before any ping, and more answers than pings, count all the same.
    for (int i = 0; i < 7; ++i) reply(alice);
    EXPECT_EQ(record(alice).numReplies, 7);
    reply(bob);
    reply(bob);
    for (int i = 0; i < 3; ++i) reply(carol);
    for (int i = 0; i < 5; ++i) cycle({}, i < 4);
    EXPECT_EQ(record(alice).numReplies, 7);

    // The operator's list holds bob in other letters: it is not his entry, so it stays, and so
    // does the label.
    server->lstUsers = {"alice", "BOB", "carol"};
    server->lblUsers = "as it was";
    forgetTraffic();
    ASSERT_TRUE(reaper().fire());

    EXPECT_EQ(record(alice).numRequests, 0);
    EXPECT_EQ(record(alice).numReplies, 0);
    EXPECT_FALSE(hasRecord(bob));
    EXPECT_EQ(socket(bob).state(), sckClosed);
    EXPECT_EQ(server->lstUsers, (std::vector<std::string>{"alice", "BOB", "carol"}));
    EXPECT_EQ(server->lblUsers, "as it was");
    EXPECT_EQ(chatLines(), std::vector<std::string>{"Socket #2 is stale. Socket has been disconnected."});
    EXPECT_EQ(received(alice), std::vector<Packet>{packet(4, {"bob"})});
    EXPECT_EQ(received(carol), std::vector<Packet>{packet(4, {"bob"})});
    EXPECT_EQ(socket(carol).state(), sckConnected);
}

}  // namespace
}  // namespace murmur::test
