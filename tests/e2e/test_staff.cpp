// Staff removing users from the real program: an administrator's ban over the wire, and the
// operator's console on standard input.
#include <gtest/gtest.h>

#include <memory>

#include "support/ServerFixture.h"
#include "support/ServerProcess.h"
#include "support/WireClient.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;

Packets withoutKeepAlives(const std::string& bytes) {
    Packets out;
    for (auto& p : decode(bytes))
        if (p.id != 11) out.push_back(p);
    return out;
}

// Whole packets received so far, keep-alives left out, once at least count of them are in. The
// keep-alives are answered, so that a slow run is not taken for a dead client.
Packets packetsOf(WireClient& client, std::size_t count) {
    client.waitForBytes([&](const std::string& bytes) {
        auto got = withoutKeepAlives(bytes);
        return got.size() >= count && got.back().id != -1;
    });
    std::string bytes = client.take();
    for (const auto& p : decode(bytes))
        if (p.id == 11) client.send(frame(11, ""));
    return withoutKeepAlives(bytes);
}

class StaffRun : public ::testing::Test {
protected:
    StaffRun() {
        writeConfig(dir, port);
        dir.write("admin.txt", "alice\r\n");
        server = std::make_unique<ServerProcess>(dir.path());
        listening = server->waitForText("Listening on port " + std::to_string(port) + "...").has_value();
    }

    void SetUp() override { ASSERT_TRUE(listening) << server->transcript(); }
    void TearDown() override { EXPECT_EQ(server->terminate(), 0) << server->transcript(); }

    void logOn(WireClient& client, const std::string& name, const std::string& rank, const std::string& listName) {
        client.send(frame(1, fields({name, "", "1"})));
        EXPECT_EQ(packetsOf(client, 2), (Packets{packet(5, {"Murmur Server v1.2 by Halden", rank}),
                                                 packet(13, {"Main", "success"})}));
        EXPECT_TRUE(server->waitForLine("connected to Murmur with the nickname: " + listName + ". ("))
            << server->transcript();
    }

    TempDir dir;
    int port = freePort();
    std::unique_ptr<ServerProcess> server;
    bool listening = false;
};

TEST_F(StaffRun, AServerBanDisconnectsTheUserAndRefusesTheNameLater) {
    WireClient alice(port);
    logOn(alice, "alice", "admin", "%alice");
    WireClient bob(port);
    logOn(bob, "bob", "normal", "bob");
    packetsOf(alice, 2);  // bob's arrival: logged on, joined Main

    alice.send(frame(2, fields({"alice", "/ban bob --server spam"})));
    const Packet banned = packet(3, {"bob was banned off of Murmur by alice (spam)", "1"});
    auto beforeClose = bob.waitClosed();
    ASSERT_TRUE(beforeClose.has_value()) << server->transcript();
    EXPECT_EQ(withoutKeepAlives(*beforeClose), Packets{banned});
    EXPECT_EQ(packetsOf(alice, 2), (Packets{banned, packet(4, {"bob"})}));
    EXPECT_TRUE(server->waitForText("bob was banned from Murmur by alice (spam)")) << server->transcript();
    EXPECT_EQ(dir.read("banned.txt"), "bob\r\n");

    WireClient again(port);
    again.send(frame(1, fields({"bob", "", "1"})));
    auto refused = again.waitClosed();
    ASSERT_TRUE(refused.has_value()) << server->transcript();
    EXPECT_EQ(decode(*refused), Packets{packet(3, {"You have been banned from the server.", "0"})});
    EXPECT_TRUE(server->waitForText("bob has been banned, and is unable to connect.")) << server->transcript();
}

TEST_F(StaffRun, ConsoleInputSendsServerMessagesAndKicks) {
    WireClient alice(port);
    logOn(alice, "alice", "admin", "%alice");
    WireClient bob(port);
    logOn(bob, "bob", "normal", "bob");
    packetsOf(alice, 2);

    server->sendConsole("Maintenance in ten minutes");
    EXPECT_EQ(packetsOf(bob, 1), Packets{packet(6, {"Maintenance in ten minutes"})});
    EXPECT_EQ(packetsOf(alice, 1), Packets{packet(6, {"Maintenance in ten minutes"})});
    EXPECT_TRUE(server->waitForText("<SERVER MESSAGE> Maintenance in ten minutes")) << server->transcript();

    server->sendConsole("/kick bob");
    auto beforeClose = bob.waitClosed();
    ASSERT_TRUE(beforeClose.has_value()) << server->transcript();
    EXPECT_EQ(withoutKeepAlives(*beforeClose), Packets{packet(3, {"bob was kicked off of Murmur by Server Console.", "1"})});
    EXPECT_TRUE(server->waitForText("bob was kicked from Murmur by Server Console.")) << server->transcript();
    EXPECT_EQ(packetsOf(alice, 2),
              (Packets{packet(3, {"bob was kicked off of Murmur by Server Console.", "1"}), packet(4, {"bob"})}));
}

}  // namespace
}  // namespace murmur::test
