// What the server's timers do on their own: the ping cycle and who is dropped as stale, spam
// control dropping clients that chat too much in one window, load control banning connection
// numbers that log on too often in one, and the idle announcements.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "core/Lifecycle.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;
using Lines = std::vector<std::string>;

const std::string kTitle = "Murmur Server v1.2 by Halden";
const std::string kLoadControl = "[Load Control]\r\nEnabled=Y\r\n";
const std::string kIdleEveryThreeMinutes = "[Settings]\r\nIdleSystem=Y\r\n[Idle System]\r\nIdleTime=3\r\n";

Packets announced(const std::string& message) { return {packet(2, {"Server Idle System", message})}; }

class GuardTest : public ServerTest {
protected:
    void startWith(const std::string& ini) {
        writeStaff("mods.txt", {"mo"});
        dir.write("MMConf.ini", ini);
        dir.write("Idles.txt", "Welcome to %v\r\nHello %rnd\r\n");
        start();
    }
    FakeTimer& pinger() { return timer(server->tmrKeepAlive); }
    FakeTimer& reaper() { return timer(server->tmrKillClients); }
    void reply(int c) { deliver(c, frame(11, "")); }
    const clsUserData& record(int c) { return *server->users.find(static_cast<ConnectionNumber>(c)); }
    void flood(int c, int lines) {
        for (int i = 0; i < lines; ++i) deliver(c, frame(2, fields({record(c).originalName, "line " + std::to_string(i)})));
    }
    // A client logs on and leaves again.
    void visit(const std::string& name) { socket(logOn(name)).peerCloses(); }
    // Fires the idle timer the given number of times and returns what the connection got.
    Packets ticks(int count, int c) {
        for (int i = 0; i < count; ++i) EXPECT_TRUE(timer(server->tmrIdle).fire());
        return received(c);
    }
};

TEST_F(GuardTest, PingsGoToConnectedUsersWhoLoggedOnAndThePingerAndReaperTakeTurns) {
    startWith("");
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

TEST_F(GuardTest, FewerThanThreeRepliesToFivePingsDropTheClientAtTheNextReaping) {
    writeStaff("admin.txt", {"ad"});
    startWith("");
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
    EXPECT_EQ(received(lurker), (Packets{packet(4, {"%ad"}), packet(4, {"carol"})}));
    EXPECT_EQ(chatLines(), (Lines{"Socket #3 is stale. Socket has been disconnected.",
                                  "Socket #5 is stale. Socket has been disconnected."}));
    EXPECT_EQ(lastLine().pieces[1].colour, colour::red);
    EXPECT_EQ(server->lstUsers, (Lines{"alice", "bob", "CAROL"}));
    EXPECT_EQ(server->lblUsers, "Total Users: 3");
    EXPECT_EQ(server->users.keys(), (std::vector<ConnectionNumber>{0, 1, 3}));
    for (int c : {alice, bob}) EXPECT_EQ(record(c).numRequests + record(c).numReplies, 0) << c;
}

TEST_F(GuardTest, TheFifthChatLineInOneWindowDropsTheClient) {
    startWith(kLoadControl);
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

TEST_F(GuardTest, PastTheLimitOfTheWindowAFloodIsCountedButNotHeard) {
    startWith("");
    int alice = logOn("alice"), bob = logOn("bob");
    flood(alice, 8);
    Packets heard = received(bob);
    ASSERT_EQ(heard.size(), 5u);
    EXPECT_EQ(heard.back(), packet(2, {"alice", "line 4"}));
    EXPECT_EQ(chatLines().size(), 5u);
    EXPECT_EQ(*server->spamCounts.find(static_cast<ConnectionNumber>(alice)), 8);
}

TEST_F(GuardTest, FloodersAreDroppedInTheOrderFirstCountedWhateverTheirListEntry) {
    startWith(kLoadControl);
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
    startWith(kLoadControl);
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
    startWith(kLoadControl + "AmountOfConnections=2\r\nAmountOfTime=4\r\n");
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

TEST_F(GuardTest, EveryIdleTimeTicksAPickedMessageGoesToEveryConnectedSocket) {
    startWith(kIdleEveryThreeMinutes);
    EXPECT_EQ(timer(server->tmrIdle).interval(), 60000);
    int alice = logOn("alice"), lurker = connect("10.0.0.2");
    logOn("bob");

    // Idles.txt ends in CR LF, so an empty third entry follows: 0.9 picks it and is drawn again;
    // the user name is drawn although unused.
    host.randomScript = {0.9, 0.2, 0.7};
    EXPECT_EQ(ticks(2, lurker), Packets{});
    EXPECT_EQ(ticks(1, lurker), announced("Welcome to " + kTitle));
    EXPECT_EQ(received(alice), announced("Welcome to " + kTitle));
    EXPECT_TRUE(host.randomScript.empty());
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "}, {colour::cyan, "<Server Idle System> "},
                                                         {colour::white, "Welcome to " + kTitle}}));
    // The names are alice, the lurker's empty one and bob; halves round to even.
    host.randomScript = {0.5, 0.25};
    EXPECT_EQ(ticks(3, lurker), announced("Hello alice"));
    host.randomScript = {0.5, 0.75};
    EXPECT_EQ(ticks(3, lurker), announced("Hello bob"));
}

TEST_F(GuardTest, AnnouncementsWaitForListenersTextAndTime) {
    startWith(kIdleEveryThreeMinutes);
    ticks(1, 0);  // nobody to hear it: the count waits
    int c = connect();
    EXPECT_EQ(ticks(2, c), Packets{});
    socket(c).peerCloses();
    ticks(2, 0);
    c = connect();
    server->idleMessages = {"%V %RND %Rnd %v%v %rnd"};  // nobody logged on: no name to pick
    EXPECT_EQ(ticks(1, c), announced("%V %RND %Rnd " + kTitle + kTitle + " %EMPTY%"));

    server->idleMessages = {"", ""};
    EXPECT_EQ(ticks(3, c), Packets{});
    server->idleMessages = {"hi"};
    server->settings.idleTime = 0;
    EXPECT_EQ(ticks(3, c), Packets{});
    server->settings.idleTime = 5;
    server->idleMinutes = 9;  // the time was shortened: the next tick announces
    EXPECT_EQ(ticks(1, c), announced("hi"));
    server->idleMinutes = 2;
    loadVariables(*server);  // loading the settings starts the count over
    EXPECT_EQ(server->idleMinutes, 0);
}

}  // namespace
}  // namespace murmur::test
