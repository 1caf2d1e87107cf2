// The ping cycle of the real program: a client that answers stays, one that falls silent goes.
#include "support/E2e.h"

namespace murmur::test {
namespace {

using KeepAlive = E2e;

TEST_F(KeepAlive, ASilentClientIsDroppedAndOneThatAnswersStays) {
    run();
    WireClient alice(port);
    EXPECT_EQ(logOn(alice, "alice"), kWelcome);
    WireClient bob(port);
    EXPECT_EQ(logOn(bob, "bob"), kWelcome);
    EXPECT_EQ(alice.takePackets(2).size(), 2u);

    // Five pings, about a second apart, go unanswered by bob; alice answers while she waits.
    EXPECT_EQ(alice.takePackets(1, 30s), Packets{packet(4, {"bob"})});
    EXPECT_TRUE(server->waitForText("Socket #2 is stale. Socket has been disconnected."));
    auto toBob = bob.waitClosed();
    ASSERT_TRUE(toBob);
    for (const Packet& p : decode(*toBob)) EXPECT_EQ(p, (Packet{11, ""}));  // told nothing but pings

    alice.send(frame(2, fields({"alice", "anyone?"})));
    EXPECT_EQ(alice.takePackets(1), Packets{packet(3, {"No one can hear you.", "1"})});
    EXPECT_EQ(server->output().find("Socket #1 is stale"), std::string::npos);
}

}  // namespace
}  // namespace murmur::test
