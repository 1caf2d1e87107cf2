// The idle announcements: when they go out, to whom, which message is picked and how its
// placeholders are filled.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "core/Lifecycle.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

const std::string kTitle = "Murmur Server v1.2 by Halden";

class IdleAnnouncementTest : public ServerTest {
protected:
    void startWith(int idleTime, const std::string& idles) {
        dir.write("MMConf.ini", "[Settings]\r\nIdleSystem=Y\r\n[Idle System]\r\nIdleTime=" + std::to_string(idleTime) + "\r\n");
        dir.write("Idles.txt", idles);
        start();
        forgetTraffic();
    }

    FakeTimer& idleTimer() { return timer(server->tmrIdle); }
    // Ticks that must announce nothing to the connection.
    void quietTicks(int ticks, int c) {
        for (int i = 0; i < ticks; ++i) {
            ASSERT_TRUE(idleTimer().fire());
            EXPECT_EQ(socket(c).takeSent(), "") << "tick " << i + 1;
        }
        EXPECT_EQ(chatLines(), std::vector<std::string>{});
    }
    static std::vector<Packet> announced(const std::string& message) {
        return {packet(2, {"Server Idle System", message})};
    }
};

TEST_F(IdleAnnouncementTest, EveryFifthTickAnnouncesAPickedMessageToEveryConnectedSocket) {
    startWith(5, "Welcome to %v\r\nHello %rnd\r\n");
    EXPECT_EQ(server->idleMessages, (std::vector<std::string>{"Welcome to %v", "Hello %rnd", ""}));
    EXPECT_TRUE(idleTimer().enabled());
    EXPECT_EQ(idleTimer().interval(), 60000);

    int alice = logOn("alice");
    int lurker = connect("10.0.0.2");
    int bob = logOn("bob");

    // 0.9 would pick the empty third entry: it is drawn again. The last number picks the user name,
    // drawn although this message has no place for it.
    host.randomScript = {0.9, 0.2, 0.7};
    quietTicks(4, alice);
    EXPECT_EQ(host.randomScript.size(), 3u);
    ASSERT_TRUE(idleTimer().fire());
    EXPECT_EQ(received(alice), announced("Welcome to " + kTitle));
    EXPECT_EQ(received(lurker), announced("Welcome to " + kTitle));
    EXPECT_EQ(received(bob), announced("Welcome to " + kTitle));
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "},
                                                         {colour::cyan, "<Server Idle System> "},
                                                         {colour::white, "Welcome to " + kTitle}}));
    EXPECT_EQ(chatLines(), std::vector<std::string>{"<Server Idle System> Welcome to " + kTitle});
    EXPECT_TRUE(host.randomScript.empty());
    EXPECT_EQ(server->idleMinutes, 0);

    // The names are alice, the lurker's empty one and bob: 0.25 of the highest index 2 is 0.5,
    // which rounds to the even 0.
    host.randomScript = {0.5, 0.25};
    quietTicks(4, alice);
    ASSERT_TRUE(idleTimer().fire());
    EXPECT_EQ(received(alice), announced("Hello alice"));
    EXPECT_EQ(received(lurker), announced("Hello alice"));
    EXPECT_EQ(chatLines(), std::vector<std::string>{"<Server Idle System> Hello alice"});

    host.randomScript = {0.5, 0.75};
    forgetTraffic();
    quietTicks(4, bob);
    ASSERT_TRUE(idleTimer().fire());
    EXPECT_EQ(received(bob), announced("Hello bob"));
}

TEST_F(IdleAnnouncementTest, PlaceholdersAreFilledOnlyInTheirOwnLetterCase) {
    startWith(1, "%V %RND %Rnd %v%v %rnd\r\n");
    int lurker = connect();

    // Nobody has logged on: no name to pick.
    host.randomScript = {0.4};
    ASSERT_TRUE(idleTimer().fire());
    EXPECT_EQ(received(lurker), announced("%V %RND %Rnd " + kTitle + kTitle + " %EMPTY%"));

    int alice = logOn("alice");
    host.randomScript = {0.4, 0.9};
    ASSERT_TRUE(idleTimer().fire());
    EXPECT_EQ(received(alice), announced("%V %RND %Rnd " + kTitle + kTitle + " alice"));
    EXPECT_EQ(received(lurker), announced("%V %RND %Rnd " + kTitle + kTitle + " alice"));
    EXPECT_TRUE(host.randomScript.empty());
}

TEST_F(IdleAnnouncementTest, TheRotationWaitsWhileNobodyIsConnected) {
    startWith(2, "ping\r\n");
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(idleTimer().fire());
    EXPECT_EQ(server->idleMinutes, 0);
    EXPECT_EQ(chatLines(), std::vector<std::string>{});

    int c = connect();
    quietTicks(1, c);
    ASSERT_TRUE(idleTimer().fire());
    EXPECT_EQ(received(c), announced("ping"));

    ASSERT_TRUE(idleTimer().fire());
    EXPECT_EQ(server->idleMinutes, 1);
    socket(c).peerCloses();
    ASSERT_EQ(socketCount(*server), 1);
    EXPECT_TRUE(idleTimer().enabled());
    forgetTraffic();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(idleTimer().fire());
    EXPECT_EQ(server->idleMinutes, 1);
    EXPECT_EQ(chatLines(), std::vector<std::string>{});

    // Somebody comes back: the count goes on from where it stopped.
    int again = connect();
    ASSERT_TRUE(idleTimer().fire());
    EXPECT_EQ(received(again), announced("ping"));
}

TEST_F(IdleAnnouncementTest, RotationsWithoutTextAndIdleTimesBelowOneAnnounceNothing) {
    startWith(1, "\r\n\r\n");
    EXPECT_EQ(server->idleMessages, (std::vector<std::string>{"", "", ""}));
    int c = connect();
    quietTicks(5, c);

    server->idleMessages = {};
    quietTicks(2, c);

    server->idleMessages = {"hi"};
    for (int idleTime : {0, -3}) {
        server->settings.idleTime = static_cast<std::int16_t>(idleTime);
        server->idleMinutes = 32767;
        quietTicks(3, c);
        EXPECT_GE(server->idleMinutes, 0) << idleTime;
    }

    // A counter already past IdleTime - 1 (the time was shortened) announces at the next tick.
    server->settings.idleTime = 5;
    server->idleMinutes = 9;
    ASSERT_TRUE(idleTimer().fire());
    EXPECT_EQ(received(c), announced("hi"));
    EXPECT_EQ(server->idleMinutes, 0);
}

TEST_F(IdleAnnouncementTest, OnlyAnExactYRunsTheTimerAndStartUpResetsTheCount) {
    start();
    EXPECT_FALSE(idleTimer().enabled());
    EXPECT_EQ(server->idleMessages, std::vector<std::string>{""});
    for (const auto& [value, runs] : std::vector<std::pair<std::string, bool>>{
             {"Y", true}, {"y", false}, {"N", false}, {"Yes", false}, {"", false}}) {
        dir.write("MMConf.ini", "[Settings]\r\nIdleSystem=" + value + "\r\n");
        server->idleMinutes = 3;
        loadVariables(*server);
        EXPECT_EQ(idleTimer().enabled(), runs) << "\"" << value << "\"";
        EXPECT_EQ(idleTimer().interval(), 60000);
        EXPECT_EQ(server->idleMinutes, 0);
    }
}

}  // namespace
}  // namespace murmur::test
