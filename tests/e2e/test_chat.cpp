// Two clients of the real program meet in a channel and talk.
#include "support/E2e.h"

namespace murmur::test {
namespace {

using Chat = E2e;

TEST_F(Chat, TheSecondUserFollowsIntoTheChannelAndHearsTheFirst) {
    run();
    WireClient alice(port);
    EXPECT_EQ(logOn(alice, "alice"), kWelcome);
    WireClient bob(port);
    EXPECT_EQ(logOn(bob, "bob"), kWelcome);
    // Told of bob: his name, product and ping, then his join of Main.
    Packets news = alice.takePackets(2);
    ASSERT_EQ(news.size(), 2u);
    EXPECT_EQ(news[0].payload.rfind("bob\0" "1\0"s, 0), 0u) << news[0].payload;
    EXPECT_EQ(news[1], packet(15, {"bob"}));

    alice.send(frame(12, fields({"alice", "Lobby"})));
    EXPECT_EQ(alice.takePackets(1), Packets{packet(13, {"Lobby", "success"})});
    EXPECT_EQ(bob.takePackets(1), Packets{packet(12, {"alice"})});
    EXPECT_TRUE(server->waitForText("alice has joined the channel Lobby"));
    bob.send(frame(12, fields({"bob", "LOBBY"})));
    EXPECT_EQ(bob.takePackets(1), Packets{packet(13, {"Lobby", "success"})});
    EXPECT_EQ(alice.takePackets(1), Packets{packet(15, {"bob"})});

    bob.send(frame(2, fields({"bob", "hello, alice"})));
    EXPECT_EQ(alice.takePackets(1), Packets{packet(2, {"bob", "hello, alice"})});
    EXPECT_TRUE(server->waitForText("<bob (Channel: Lobby)> hello, alice"));

    // A line said in an empty channel is answered to the speaker alone.
    alice.send(frame(12, fields({"alice", "Main"})));
    EXPECT_EQ(alice.takePackets(1), Packets{packet(13, {"Main", "success"})});
    EXPECT_EQ(bob.takePackets(1), Packets{packet(12, {"alice"})});
    bob.send(frame(2, fields({"bob", "anyone?"})));
    EXPECT_EQ(bob.takePackets(1), Packets{packet(3, {"No one can hear you.", "1"})});
    EXPECT_TRUE(server->waitForText("<bob (Channel: Lobby)> anyone?"));
}

}  // namespace
}  // namespace murmur::test
