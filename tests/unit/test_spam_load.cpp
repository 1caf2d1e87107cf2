// Spam control drops clients that chat too much in one window; load control bans connection
// numbers that log on too often in one.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;
using Lines = std::vector<std::string>;

class GuardTest : public ServerTest {
protected:
    void startWith(const std::string& loadSection) {
        dir.write("mods.txt", "mo\r\n");
        dir.write("MMConf.ini", "[Load Control]\r\nEnabled=Y\r\n" + loadSection);
        start();
    }
    void flood(int c, int lines) {
        for (int i = 0; i < lines; ++i) deliver(c, frame(2, fields({"", "line " + std::to_string(i)})));
    }
    // A client logs on and leaves again.
    void visit(const std::string& name) { socket(logOn(name)).peerCloses(); }
};

TEST_F(GuardTest, TheFifthChatLineInOneWindowDropsTheClient) {
    startWith("");
    FakeTimer& window = timer(server->tmrHandleJunk);
    int alice = logOn("alice");
    logOn("bob");
    int lurker = connect("10.0.0.3");
    flood(alice, 4);
    ASSERT_TRUE(window.fire());  // four are forgotten
    flood(alice, 5);
    server->settings.spamControl = "N";  // no more counting, but the open window still ends in the drop
    flood(alice, 1);
    forgetTraffic();
    host.events.clear();

    ASSERT_TRUE(window.fire());
    EXPECT_EQ(received(alice), Packets{packet(3, {"You have been disconnected for spamming.", "0"})});
    EXPECT_EQ(received(lurker), Packets{packet(4, {"alice"})});
    EXPECT_EQ(host.events, (Lines{"send 0", "yield", "send 1", "send 2", "close 0"}));
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::red, "Socket #1 (Username: alice) has been disconnected for spamming."}));
    EXPECT_EQ(socketCount(*server), 3);
    EXPECT_EQ(server->users.keys(), (std::vector<ConnectionNumber>{1, 2}));
    EXPECT_EQ(server->lblUsers, "Total Users: 1");
}

TEST_F(GuardTest, FloodersAreDroppedInTheOrderFirstCountedWhateverTheirListEntry) {
    startWith("");
    int alice = logOn("alice"), ad = logOn("ad"), mo = logOn("mo"), carol = logOn("carol"), gone = logOn("gone");
    for (auto [c, lines] : std::vector<std::pair<int, int>>{{mo, 6}, {ad, 5}, {alice, 4}, {gone, 5}, {carol, 5}})
        flood(c, lines);
    socket(gone).peerCloses();
    server->lstUsers = {"ad", "@MO", "alice", "carla"};  // carol has no entry under any spelling
    forgetTraffic();

    ASSERT_TRUE(timer(server->tmrHandleJunk).fire());
    EXPECT_EQ(chatLines(), (Lines{"Socket #3 (Username: @mo) has been disconnected for spamming.",
                                  "Socket #2 (Username: ad) has been disconnected for spamming.",
                                  "Socket #4 (Username: carol) has been disconnected for spamming."}));
    EXPECT_EQ(received(alice), (Packets{packet(4, {"@mo"}), packet(4, {"ad"})}));
    EXPECT_EQ(server->lstUsers, (Lines{"alice", "carla"}));
}

TEST_F(GuardTest, TheFifthLogonOnOneNumberInOneWindowIsBannedIfStillConnected) {
    startWith("");
    FakeTimer& window = timer(server->tmrLoad);
    for (int i = 1; i <= 4; ++i) visit("a" + std::to_string(i));
    ASSERT_TRUE(window.fire());  // the counts last one window
    int stays = logOn("a5");
    ASSERT_TRUE(window.fire());
    socket(stays).peerCloses();
    for (int i = 1; i <= 5; ++i) visit("b" + std::to_string(i));  // gone by the tick: not banned
    ASSERT_TRUE(window.fire());
    EXPECT_FALSE(dir.exists("banned.txt"));

    int keeper = logOn("keeper");
    for (int i = 1; i <= 4; ++i) visit("d" + std::to_string(i));
    ASSERT_EQ(logOn("d5"), 1);
    ASSERT_TRUE(window.fire());
    EXPECT_EQ(dir.read("banned.txt"), "d5\r\n");
    EXPECT_EQ(socketCount(*server), 1);
    EXPECT_EQ(server->users.count(), 1u);
    EXPECT_EQ(received(keeper), Packets{});
    EXPECT_EQ(server->lstUsers, (Lines{"keeper", "d5"}));
    EXPECT_FALSE(window.enabled());
}

TEST_F(GuardTest, ANumberBeyondTheLoadedSocketsEndsTheWalkUntilTheNextTick) {
    startWith("AmountOfConnections=2\r\nAmountOfTime=4\r\n");
    EXPECT_EQ(timer(server->tmrLoad).interval(), 4000);
    int first = connect();
    visit("b1");
    visit("b2");
    deliver(first, frame(1, fields({"a1", "", "1"})));
    socket(first).peerCloses();
    ASSERT_EQ(logOn("a2"), 0);
    // Number 1 was counted first and has no socket now: number 0, at its limit, is not reached.
    ASSERT_TRUE(timer(server->tmrLoad).fire());
    EXPECT_TRUE(timer(server->tmrLoad).enabled());

    // Number 1 is taken again, its record lost: dropped without a ban line, then number 0 banned.
    ASSERT_EQ(logOn("late"), 1);
    server->users.remove(1);
    std::string late = std::to_string(socket(1).id());
    host.events.clear();
    ASSERT_TRUE(timer(server->tmrLoad).fire());
    EXPECT_EQ(host.events, (Lines{"send " + late, "yield", "close " + late, "send 0", "yield", "close 0"}));
    EXPECT_EQ(received(0), Packets{packet(3, {"You have beed banned for loading the server.", "0"})});
    EXPECT_EQ(dir.read("banned.txt"), "a2\r\n");
}

}  // namespace
}  // namespace murmur::test
