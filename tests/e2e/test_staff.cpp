// Staff removing users from the real program: an administrator's server-wide ban over the wire,
// and the operator's console on standard input.
#include "staff/Accounts.h"
#include "support/E2e.h"

namespace murmur::test {
namespace {

class Staff : public E2e {
protected:
    // alice, an administrator, and bob log on; alice hears of bob->
    void SetUp() override {
        dir.write("admin.txt", "alice\r\n");
        dir.write("users.txt", "alice:" + hashPassword("pw") + "\r\n");
        run();
        alice.emplace(port);
        EXPECT_EQ(logOn(*alice, "alice", "pw"), (Packets{packet(5, {"Murmur Server v1.2 by Halden", "admin"}), kWelcome[1]}));
        bob.emplace(port);
        EXPECT_EQ(logOn(*bob, "bob"), kWelcome);
        EXPECT_EQ(alice->takePackets(2).size(), 2u);
        EXPECT_TRUE(server->waitForLine("nickname: bob."));
    }

    std::optional<WireClient> alice, bob;
};

TEST_F(Staff, AServerBanDisconnectsTheUserAndRefusesTheNameLater) {
    alice->send(frame(2, fields({"alice", "/ban bob --server spam"})));
    const Packet banned = packet(3, {"bob was banned off of Murmur by alice (spam)", "1"});
    EXPECT_EQ(bob->takePackets(1), Packets{banned});
    EXPECT_EQ(bob->waitClosed(), "");
    EXPECT_EQ(alice->takePackets(2), (Packets{banned, packet(4, {"bob"})}));
    EXPECT_TRUE(server->waitForText("bob was banned from Murmur by alice (spam)"));
    EXPECT_EQ(dir.read("banned.txt"), "bob\r\n");

    WireClient again(port);
    again.send(logonFrame("bob"));
    EXPECT_EQ(again.waitClosed(), frame(3, fields({"You have been banned from the server.", "0"})));
    EXPECT_TRUE(server->waitForText("bob has been banned, and is unable to connect."));
}

TEST_F(Staff, TheConsoleSendsServerMessagesAndKicks) {
    server->sendConsole("Maintenance in ten minutes");
    for (WireClient* client : {&*alice, &*bob})
        EXPECT_EQ(client->takePackets(1), Packets{packet(6, {"Maintenance in ten minutes"})});
    EXPECT_TRUE(server->waitForText("<SERVER MESSAGE> Maintenance in ten minutes"));

    server->sendConsole("/kick bob");
    const Packet kicked = packet(3, {"bob was kicked off of Murmur by Server Console.", "1"});
    EXPECT_EQ(bob->takePackets(1), Packets{kicked});
    EXPECT_EQ(bob->waitClosed(), "");
    EXPECT_EQ(alice->takePackets(2), (Packets{kicked, packet(4, {"bob"})}));
    EXPECT_TRUE(server->waitForText("bob was kicked from Murmur by Server Console."));
}

}  // namespace
}  // namespace murmur::test
