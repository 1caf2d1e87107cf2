// Two clients of the real program meet in a channel and talk.
#include <gtest/gtest.h>

#include <memory>

#include "support/ServerFixture.h"
#include "support/ServerProcess.h"
#include "support/WireClient.h"

namespace murmur::test {
namespace {

using namespace std::string_literals;

// The keep-alive ping may reach a logged-on client at any moment; it is no part of these talks.
const std::string kKeepAlive = "\x0b" "0\0"s;

std::string withoutKeepAlives(std::string bytes) {
    for (auto at = bytes.find(kKeepAlive); at != std::string::npos; at = bytes.find(kKeepAlive))
        bytes.erase(at, kKeepAlive.size());
    return bytes;
}

// Waits until the client holds this many whole packets, keep-alives left out, and takes them.
std::vector<Packet> takePackets(WireClient& client, std::size_t count) {
    auto whole = [count](const std::string& bytes) {
        std::vector<Packet> packets = decode(withoutKeepAlives(bytes));
        return packets.size() >= count && packets.back().id != -1;
    };
    if (!client.waitForBytes(whole)) return decode(withoutKeepAlives(client.inbox()));
    return decode(withoutKeepAlives(client.take()));
}

class ChatOverTheWire : public ::testing::Test {
protected:
    ChatOverTheWire() {
        writeConfig(dir, port);
        server = std::make_unique<ServerProcess>(dir.path());
        listening = server->waitForText("Listening on port " + std::to_string(port) + "...").has_value();
    }

    void SetUp() override { ASSERT_TRUE(listening) << server->transcript(); }
    void TearDown() override { EXPECT_EQ(server->terminate(), 0) << server->transcript(); }

    void logOn(WireClient& client, const std::string& name) {
        client.send(frame(1, fields({name, "", "1"})));
        EXPECT_EQ(takePackets(client, 2), (std::vector<Packet>{packet(5, {"Murmur Server v1.2 by Halden", "normal"}),
                                                               packet(13, {"Main", "success"})}));
        EXPECT_TRUE(server->waitForLine("connected to Murmur with the nickname: " + name + ". ("))
            << server->transcript();
    }

    TempDir dir;
    int port = freePort();
    std::unique_ptr<ServerProcess> server;
    bool listening = false;
};

TEST_F(ChatOverTheWire, TheSecondUserFollowsIntoTheChannelAndHearsTheFirst) {
    WireClient alice(port);
    logOn(alice, "alice");
    WireClient bob(port);
    logOn(bob, "bob");

    std::vector<Packet> news = takePackets(alice, 2);
    ASSERT_EQ(news.size(), 2u) << ::testing::PrintToString(news);
    EXPECT_EQ(news[0].id, 1);
    EXPECT_EQ(news[0].payload.rfind("bob\0" "1\0"s, 0), 0u) << ::testing::PrintToString(news[0]);
    EXPECT_EQ(news[1], packet(15, {"bob"}));

    alice.send(frame(12, fields({"alice", "Lobby"})));
    EXPECT_EQ(takePackets(alice, 1), std::vector<Packet>{packet(13, {"Lobby", "success"})});
    EXPECT_EQ(takePackets(bob, 1), std::vector<Packet>{packet(12, {"alice"})});
    EXPECT_TRUE(server->waitForText("alice has joined the channel Lobby")) << server->transcript();

    bob.send(frame(12, fields({"bob", "LOBBY"})));
    EXPECT_EQ(takePackets(bob, 1), std::vector<Packet>{packet(13, {"Lobby", "success"})});
    EXPECT_EQ(takePackets(alice, 1), std::vector<Packet>{packet(15, {"bob"})});
    EXPECT_TRUE(server->waitForText("bob has joined the channel Lobby")) << server->transcript();

    bob.send(frame(2, fields({"bob", "hello, alice"})));
    const std::string line = "\x02" "16\0bob\0hello, alice"s;
    ASSERT_TRUE(alice.waitForBytes([&](const std::string& bytes) { return withoutKeepAlives(bytes).size() >= line.size(); }))
        << ::testing::PrintToString(alice.inbox());
    EXPECT_EQ(withoutKeepAlives(alice.take()), line);
    EXPECT_TRUE(server->waitForText("<bob (Channel: Lobby)> hello, alice")) << server->transcript();

    // A line said in an empty channel is answered to the speaker alone.
    alice.send(frame(12, fields({"alice", "Main"})));
    EXPECT_EQ(takePackets(alice, 1), std::vector<Packet>{packet(13, {"Main", "success"})});
    EXPECT_EQ(takePackets(bob, 1), std::vector<Packet>{packet(12, {"alice"})});
    bob.send(frame(2, fields({"bob", "anyone?"})));
    EXPECT_EQ(takePackets(bob, 1), std::vector<Packet>{packet(3, {"No one can hear you.", "1"})});
    EXPECT_TRUE(server->waitForText("<bob (Channel: Lobby)> anyone?")) << server->transcript();
}

}  // namespace
}  // namespace murmur::test
