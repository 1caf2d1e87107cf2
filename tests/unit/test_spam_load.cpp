// Spam control drops clients that chat too much in one window; load control bans connection
// numbers that log on too often in one.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

const std::string kSpamming = "You have been disconnected for spamming.";
const std::string kLoading = "You have beed banned for loading the server.";

std::string sendEvent(FakeSocket& s) { return "send " + std::to_string(s.id()); }
std::string closeEvent(FakeSocket& s) { return "close " + std::to_string(s.id()); }

class GuardTest : public ServerTest {
protected:
    std::vector<std::string> eventsSince(std::size_t mark) {
        return {host.events.begin() + static_cast<std::ptrdiff_t>(mark), host.events.end()};
    }
    bool hasRecord(int c) { return server->users.contains(static_cast<ConnectionNumber>(c)); }
};

class SpamTest : public GuardTest {
protected:
    void SetUp() override {
        dir.write("admin.txt", "ad\r\n");
        dir.write("mods.txt", "mo\r\n");
        start();
    }

    FakeTimer& spamTimer() { return timer(server->tmrHandleJunk); }
    void say(int c, const std::string& name, const std::string& text) { deliver(c, frame(2, fields({name, text}))); }
    void flood(int c, const std::string& name, int lines) {
        for (int i = 0; i < lines; ++i) say(c, name, "line " + std::to_string(i));
    }
};

TEST_F(SpamTest, TheFifthLineInOneWindowDropsTheClientAndFourAreForgotten) {
    EXPECT_FALSE(spamTimer().enabled());
    EXPECT_EQ(spamTimer().interval(), 3000);

    int alice = logOn("alice");
    int bob = logOn("bob");
    int lurker = connect("10.0.0.3");

    flood(alice, "alice", 4);
    EXPECT_TRUE(spamTimer().enabled());
    forgetTraffic();
    ASSERT_TRUE(spamTimer().fire());
    EXPECT_TRUE(hasRecord(alice));
    EXPECT_EQ(socket(alice).state(), sckConnected);
    EXPECT_EQ(chatLines(), std::vector<std::string>{});
    EXPECT_TRUE(server->spamCounts.empty());
    // It stops itself, and the next counted line starts it again with every count from nothing.
    EXPECT_FALSE(spamTimer().enabled());
    EXPECT_FALSE(spamTimer().fire());
    say(alice, "alice", "again");
    EXPECT_TRUE(spamTimer().enabled());
    EXPECT_EQ(*server->spamCounts.find(static_cast<ConnectionNumber>(alice)), 1);

    // Lines that are never relayed count all the same; five reach the limit, which is inclusive.
    say(alice, "alice", "");
    say(alice, "alice", std::string(201, 'x'));
    flood(alice, "alice", 2);
    // Switched off now: no more counting, but the window already running still ends in the drop.
    server->settings.spamControl = "N";
    say(alice, "alice", "uncounted");
    EXPECT_EQ(*server->spamCounts.find(static_cast<ConnectionNumber>(alice)), 5);
    forgetTraffic();

    std::size_t mark = host.events.size();
    ASSERT_TRUE(spamTimer().fire());
    EXPECT_FALSE(hasRecord(alice));
    EXPECT_EQ(socket(alice).state(), sckClosed);
    EXPECT_EQ(socketCount(*server), 3);
    EXPECT_EQ(received(alice), std::vector<Packet>{packet(3, {kSpamming, "0"})});
    EXPECT_EQ(received(bob), std::vector<Packet>{packet(4, {"alice"})});
    EXPECT_EQ(received(lurker), std::vector<Packet>{packet(4, {"alice"})});
    EXPECT_EQ(lastLine().pieces,
              (std::vector<ChatPiece>{{colour::white, "[12:34:56] "},
                                      {colour::red, "Socket #1 (Username: alice) has been disconnected for spamming."}}));
    EXPECT_EQ(server->lstUsers, std::vector<std::string>{"bob"});
    EXPECT_EQ(server->lblUsers, "Total Users: 1");
    EXPECT_EQ(eventsSince(mark), (std::vector<std::string>{sendEvent(socket(bob)), sendEvent(socket(lurker)),
                                                           sendEvent(socket(alice)), "yield",
                                                           closeEvent(socket(alice))}));
    EXPECT_TRUE(server->spamCounts.empty());
    EXPECT_FALSE(spamTimer().enabled());
}

TEST_F(SpamTest, TwoFloodersInOneWindowAreBothDroppedInTheOrderTheyWereCounted) {
    int alice = logOn("alice");
    int ad = logOn("ad");
    int mo = logOn("mo");
    int carol = logOn("carol");
    ASSERT_EQ(server->lstUsers, (std::vector<std::string>{"%ad", "@mo", "alice", "carol"}));
    // Prefixes are set aside and letter case does not matter when the entry is looked for.
    server->lstUsers[1] = "@MO";

    flood(mo, "mo", 6);
    flood(ad, "ad", 5);
    flood(alice, "alice", 4);
    forgetTraffic();

    ASSERT_TRUE(spamTimer().fire());
    EXPECT_EQ(chatLines(), (std::vector<std::string>{"Socket #3 (Username: @mo) has been disconnected for spamming.",
                                                     "Socket #2 (Username: %ad) has been disconnected for spamming."}));
    EXPECT_EQ(server->lstUsers, (std::vector<std::string>{"alice", "carol"}));
    EXPECT_EQ(server->lblUsers, "Total Users: 2");
    EXPECT_EQ(received(alice), (std::vector<Packet>{packet(4, {"@mo"}), packet(4, {"%ad"})}));
    EXPECT_EQ(received(carol), (std::vector<Packet>{packet(4, {"@mo"}), packet(4, {"%ad"})}));
    EXPECT_EQ(received(ad), (std::vector<Packet>{packet(4, {"@mo"}), packet(3, {kSpamming, "0"})}));
    EXPECT_EQ(received(mo), (std::vector<Packet>{packet(3, {kSpamming, "0"})}));
    EXPECT_EQ(socket(ad).state(), sckClosed);
    EXPECT_EQ(socket(mo).state(), sckClosed);
    EXPECT_EQ(socket(alice).state(), sckConnected);
    EXPECT_TRUE(server->spamCounts.empty());
}

TEST_F(SpamTest, AMissingListEntryOrAMissingRecordDoesNotStopTheTick) {
    int alice = logOn("alice");
    int bob = logOn("bob");
    int carol = logOn("carol");

    // Bob floods and leaves before the tick: his count is passed over.
    flood(bob, "bob", 5);
    socket(bob).peerCloses();
    // Alice's entry is not in the operator's list under any spelling.
    flood(alice, "alice", 5);
    server->lstUsers = {"carol", "alicia", "zed"};
    forgetTraffic();

    std::size_t mark = host.events.size();
    ASSERT_TRUE(spamTimer().fire());
    EXPECT_EQ(chatLines(), std::vector<std::string>{"Socket #1 (Username: alice) has been disconnected for spamming."});
    EXPECT_EQ(received(carol), std::vector<Packet>{});
    EXPECT_EQ(received(alice), std::vector<Packet>{packet(3, {kSpamming, "0"})});
    EXPECT_EQ(eventsSince(mark),
              (std::vector<std::string>{sendEvent(socket(alice)), "yield", closeEvent(socket(alice))}));
    EXPECT_FALSE(hasRecord(alice));
    EXPECT_EQ(server->lstUsers, (std::vector<std::string>{"carol", "alicia", "zed"}));
    EXPECT_EQ(server->lblUsers, "Total Users: 3");
    EXPECT_TRUE(server->spamCounts.empty());
    EXPECT_FALSE(spamTimer().enabled());
}

class LoadTest : public GuardTest {
protected:
    void startWith(const std::string& loadSection) {
        dir.write("MMConf.ini", "[Load Control]\r\nEnabled=Y\r\n" + loadSection);
        start();
    }

    FakeTimer& loadTimer() { return timer(server->tmrLoad); }
    void logOnAt(int c, const std::string& name) { deliver(c, frame(1, fields({name, "", "1"}))); }
    // A client logs on and leaves again; returns the number it had.
    int visit(const std::string& name) {
        int c = logOn(name);
        socket(c).peerCloses();
        return c;
    }
    int counted(int c) {
        const std::int16_t* count = server->logonCounts.find(static_cast<ConnectionNumber>(c));
        return count ? *count : 0;
    }
};

TEST_F(LoadTest, TheFifthLogonOnOneNumberIsBannedAtTheNextTick) {
    startWith("");
    EXPECT_FALSE(loadTimer().enabled());
    EXPECT_EQ(loadTimer().interval(), 3000);

    for (int i = 1; i <= 4; ++i) ASSERT_EQ(visit("c" + std::to_string(i)), 0);
    EXPECT_TRUE(loadTimer().enabled());
    int fifth = logOn("c5");
    ASSERT_EQ(fifth, 0);
    EXPECT_EQ(counted(0), 5);

    std::size_t mark = host.events.size();
    ASSERT_TRUE(loadTimer().fire());
    EXPECT_EQ(received(0), std::vector<Packet>{packet(3, {kLoading, "0"})});
    EXPECT_EQ(eventsSince(mark), (std::vector<std::string>{sendEvent(socket(0)), "yield", closeEvent(socket(0))}));
    EXPECT_EQ(dir.read("banned.txt"), "c5\r\n");
    EXPECT_EQ(socket(0).state(), sckClosed);
    EXPECT_EQ(socketCount(*server), 1);  // socket 0 is never unloaded
    EXPECT_FALSE(hasRecord(0));
    EXPECT_TRUE(server->logonCounts.empty());
    EXPECT_FALSE(loadTimer().enabled());
    // Nobody is told and the operator sees nothing; the list entry stays.
    EXPECT_EQ(chatLines(), std::vector<std::string>{});
    EXPECT_EQ(server->lstUsers, std::vector<std::string>{"c5"});

    // The banned name is refused from now on.
    logOnAt(connect(), "C5");
    EXPECT_EQ(received(0), std::vector<Packet>{packet(3, {"You have been banned from the server.", "0"})});
}

TEST_F(LoadTest, ABanOnTheHighestSocketUnloadsItAndNobodyElseHearsOfIt) {
    startWith("");
    int keeper = logOn("keeper");
    for (int i = 1; i <= 4; ++i) {
        ASSERT_EQ(visit("c" + std::to_string(i)), 1);
        ASSERT_EQ(socketCount(*server), 1);
    }
    ASSERT_EQ(logOn("c5"), 1);
    FakeSocket& fifth = socket(1);
    std::string sent = sendEvent(fifth);
    std::string closed = closeEvent(fifth);

    std::size_t mark = host.events.size();
    ASSERT_TRUE(loadTimer().fire());
    EXPECT_EQ(eventsSince(mark), (std::vector<std::string>{sent, "yield", closed}));
    EXPECT_EQ(socketCount(*server), 1);
    EXPECT_EQ(dir.read("banned.txt"), "c5\r\n");
    EXPECT_FALSE(hasRecord(1));
    EXPECT_EQ(received(keeper), std::vector<Packet>{});
    EXPECT_EQ(socket(keeper).state(), sckConnected);
    EXPECT_EQ(chatLines(), std::vector<std::string>{});
}

TEST_F(LoadTest, CountsLastOneWindowAndADisconnectedNumberIsNotBanned) {
    startWith("");
    for (int i = 1; i <= 3; ++i) visit("a" + std::to_string(i));
    ASSERT_TRUE(loadTimer().fire());
    EXPECT_FALSE(loadTimer().enabled());
    EXPECT_TRUE(server->logonCounts.empty());

    visit("a4");
    int stays = logOn("a5");
    EXPECT_EQ(counted(stays), 2);
    ASSERT_TRUE(loadTimer().fire());
    EXPECT_EQ(socket(stays).state(), sckConnected);
    EXPECT_EQ(received(stays), std::vector<Packet>{});
    EXPECT_FALSE(dir.exists("banned.txt"));

    // Five in one window, but the last has gone too by the tick.
    socket(stays).peerCloses();
    for (int i = 1; i <= 5; ++i) visit("b" + std::to_string(i));
    EXPECT_EQ(counted(0), 5);
    std::size_t mark = host.events.size();
    ASSERT_TRUE(loadTimer().fire());
    EXPECT_EQ(eventsSince(mark), std::vector<std::string>{});
    EXPECT_FALSE(dir.exists("banned.txt"));
    EXPECT_FALSE(loadTimer().enabled());
    EXPECT_TRUE(server->logonCounts.empty());

    // Switched off, logons still count but start nothing.
    server->settings.loadControl = "N";
    visit("c1");
    EXPECT_EQ(counted(0), 1);
    EXPECT_FALSE(loadTimer().enabled());
    server->settings.loadControl = "y";
    visit("c2");
    EXPECT_EQ(counted(0), 2);
    EXPECT_FALSE(loadTimer().enabled());
}

TEST_F(LoadTest, ANumberBeyondTheLoadedSocketsEndsTheWalkAndKeepsTheTimerRunning) {
    startWith("AmountOfConnections=2\r\nAmountOfTime=4\r\n");
    EXPECT_EQ(loadTimer().interval(), 4000);
    int first = connect();
    ASSERT_EQ(first, 0);
    ASSERT_EQ(visit("b1"), 1);
    ASSERT_EQ(visit("b2"), 1);
    ASSERT_EQ(socketCount(*server), 1);
    logOnAt(first, "a1");
    socket(first).peerCloses();
    ASSERT_EQ(logOn("a2"), 0);
    EXPECT_EQ(counted(1), 2);
    EXPECT_EQ(counted(0), 2);

    // Number 1 was counted first and has no socket now: number 0, at its limit, is not reached.
    forgetTraffic();
    ASSERT_TRUE(loadTimer().fire());
    EXPECT_TRUE(loadTimer().enabled());
    EXPECT_EQ(socket(0).state(), sckConnected);
    EXPECT_EQ(received(0), std::vector<Packet>{});
    EXPECT_EQ(counted(1), 2);
    EXPECT_EQ(counted(0), 2);

    // Someone takes number 1 again and logs on: both are banned, in the order first counted.
    ASSERT_EQ(logOn("late"), 1);
    std::string lateSent = sendEvent(socket(1));
    std::string lateClosed = closeEvent(socket(1));
    std::size_t mark = host.events.size();
    ASSERT_TRUE(loadTimer().fire());
    EXPECT_EQ(eventsSince(mark), (std::vector<std::string>{lateSent, "yield", lateClosed, sendEvent(socket(0)), "yield",
                                                           closeEvent(socket(0))}));
    EXPECT_EQ(dir.read("banned.txt"), "late\r\na2\r\n");
    EXPECT_EQ(received(0), std::vector<Packet>{packet(3, {kLoading, "0"})});
    EXPECT_EQ(socket(0).state(), sckClosed);
    EXPECT_EQ(socketCount(*server), 1);
    EXPECT_FALSE(loadTimer().enabled());
    EXPECT_TRUE(server->logonCounts.empty());
}

TEST_F(LoadTest, AConnectedNumberWithoutARecordIsDroppedWithoutABanLine) {
    startWith("AmountOfConnections=2\r\n");
    visit("a1");
    int c = logOn("a2");
    // The record went while the socket stayed open.
    server->users.remove(static_cast<ConnectionNumber>(c));

    ASSERT_TRUE(loadTimer().fire());
    EXPECT_EQ(received(c), std::vector<Packet>{packet(3, {kLoading, "0"})});
    EXPECT_EQ(socket(c).state(), sckClosed);
    EXPECT_FALSE(dir.exists("banned.txt"));
    EXPECT_TRUE(server->logonCounts.empty());
}

}  // namespace
}  // namespace murmur::test
