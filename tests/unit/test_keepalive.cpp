// The ping cycle: who is pinged, how replies are counted, and who is dropped as stale.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Lines = std::vector<std::string>;

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
};

TEST_F(KeepAliveTest, PingsGoToConnectedUsersWhoLoggedOnAndThePingerAndReaperTakeTurns) {
    int alice = logOn("alice"), lurker = connect("10.0.0.2"), gone = logOn("dave");
    closeKeepingRecord(gone);  // no close event: the record stays
    for (int i = 0; i < 7; ++i) {
        EXPECT_TRUE(pinger().enabled() && !reaper().enabled());
        ASSERT_TRUE(pinger().fire());
        EXPECT_TRUE(!pinger().enabled() && reaper().enabled());
        EXPECT_EQ(socket(alice).takeSent(), std::string("\x0b" "0\0", 3));
        reply(alice);
        ASSERT_TRUE(reaper().fire());
    }
    EXPECT_EQ(record(lurker).numRequests, 0);
    EXPECT_EQ(record(gone).numRequests, 0);
}

TEST_F(KeepAliveTest, FewerThanThreeRepliesToFivePingsDropTheClientAtTheNextReaping) {
    int alice = logOn("alice"), lurker = connect("10.0.0.2"), ad = logOn("ad"), bob = logOn("bob");
    logOn("carol");
    for (int i = 0; i < 3; ++i) reply(bob);  // replies before any ping count all the same
    for (int i = 0; i < 5; ++i) {
        if (i > 0) reaper().fire();
        pinger().fire();
        if (i < 3) reply(alice);
        if (i < 2) reply(ad);
    }
    server->lstUsers = {"%ad", "alice", "bob", "CAROL"};  // only an exact entry goes with its user
    forgetTraffic();
    host.events.clear();

    ASSERT_TRUE(reaper().fire());
    EXPECT_EQ(host.events, (Lines{"send 0", "send 1", "send 3", "send 4", "close 2", "send 0", "send 1", "send 3",
                                  "close 4"}));
    EXPECT_EQ(received(lurker), (std::vector<Packet>{packet(4, {"%ad"}), packet(4, {"carol"})}));
    EXPECT_EQ(chatLines(), (Lines{"Socket #3 is stale. Socket has been disconnected.",
                                  "Socket #5 is stale. Socket has been disconnected."}));
    EXPECT_EQ(lastLine().pieces[1].colour, colour::red);
    EXPECT_EQ(server->lstUsers, (Lines{"alice", "bob", "CAROL"}));
    EXPECT_EQ(server->lblUsers, "Total Users: 3");
    EXPECT_EQ(server->users.keys(), (std::vector<ConnectionNumber>{0, 1, 3}));
    for (int c : {alice, bob}) EXPECT_EQ(record(c).numRequests + record(c).numReplies, 0) << c;
}

}  // namespace
}  // namespace murmur::test
