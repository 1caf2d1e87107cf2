// The idle announcements: when they go out, to whom, which message is picked and how its
// placeholders are filled.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "core/Lifecycle.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;

const std::string kTitle = "Murmur Server v1.2 by Halden";

Packets announced(const std::string& message) { return {packet(2, {"Server Idle System", message})}; }

class IdleTest : public ServerTest {
protected:
    void SetUp() override {
        dir.write("MMConf.ini", "[Settings]\r\nIdleSystem=Y\r\n[Idle System]\r\nIdleTime=3\r\n");
        dir.write("Idles.txt", "Welcome to %v\r\nHello %rnd\r\n");
        start();
    }
    // Fires the idle timer the given number of times and returns what the connection got.
    Packets ticks(int count, int c) {
        for (int i = 0; i < count; ++i) EXPECT_TRUE(timer(server->tmrIdle).fire());
        return received(c);
    }
};

TEST_F(IdleTest, EveryIdleTimeTicksAPickedMessageGoesToEveryConnectedSocket) {
    EXPECT_EQ(server->idleMessages, (std::vector<std::string>{"Welcome to %v", "Hello %rnd", ""}));
    EXPECT_EQ(timer(server->tmrIdle).interval(), 60000);
    int alice = logOn("alice"), lurker = connect("10.0.0.2");
    logOn("bob");

    // 0.9 picks the empty third entry and is drawn again; the user name is drawn although unused.
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

TEST_F(IdleTest, AnnouncementsWaitForListenersTextAndTime) {
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
