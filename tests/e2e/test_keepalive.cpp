// The ping cycle of the real program: a client that answers stays, one that falls silent goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "support/ServerFixture.h"
#include "support/ServerProcess.h"
#include "support/WireClient.h"

namespace murmur::test {
namespace {

using namespace std::string_literals;

const std::string kPing = "\x0b" "0\0"s;
const std::string kStale = "Socket #2 is stale. Socket has been disconnected.";

// A client that answers every ping as soon as it reads it and keeps every other packet.
struct AnsweringClient {
    explicit AnsweringClient(int port) : wire(port) {}

    void pump(std::chrono::milliseconds timeout) {
        std::vector<Packet> got = decode(rest + wire.receive(timeout));
        rest.clear();
        if (!got.empty() && got.back().id == -1) {
            rest = got.back().payload;
            got.pop_back();
        }
        for (const Packet& p : got) {
            if (p.id == 11) {
                wire.send(frame(11, ""));
                ++pings;
            } else {
                others.push_back(p);
            }
        }
    }

    // Answers pings until this many other packets have come, and takes them.
    std::vector<Packet> take(std::size_t count) {
        auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (others.size() < count && std::chrono::steady_clock::now() < deadline) pump(100ms);
        std::vector<Packet> out;
        out.swap(others);
        return out;
    }

    WireClient wire;
    std::string rest;
    std::vector<Packet> others;
    int pings = 0;
};

class KeepAliveOverTheWire : public ::testing::Test {
protected:
    KeepAliveOverTheWire() {
        writeConfig(dir, port);
        server = std::make_unique<ServerProcess>(dir.path());
        listening = server->waitForText("Listening on port " + std::to_string(port) + "...").has_value();
    }

    void SetUp() override { ASSERT_TRUE(listening) << server->transcript(); }
    void TearDown() override { EXPECT_EQ(server->terminate(), 0) << server->transcript(); }

    TempDir dir;
    int port = freePort();
    std::unique_ptr<ServerProcess> server;
    bool listening = false;
};

TEST_F(KeepAliveOverTheWire, AClientThatAnswersStaysAndOneThatFallsSilentIsDropped) {
    AnsweringClient alice(port);
    alice.wire.send(frame(1, fields({"alice", "", "1"})));
    EXPECT_EQ(alice.take(2), (std::vector<Packet>{packet(5, {"Murmur Server v1.2 by Halden", "normal"}),
                                                  packet(13, {"Main", "success"})}));

    WireClient bob(port);
    bob.send(frame(1, fields({"bob", "", "1"})));
    std::vector<Packet> news = alice.take(2);
    ASSERT_EQ(news.size(), 2u) << ::testing::PrintToString(news);
    EXPECT_EQ(news[0].id, 1);
    EXPECT_EQ(news[1], packet(15, {"bob"}));

    // Bob answers his first ping and then nothing more; alice answers every one. The wait is
    // long enough for two checks of alice, which joined first and so is checked no later than bob.
    std::string bobBytes;
    bool bobAnswered = false;
    bool bobDropped = false;
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline && !(bobDropped && alice.pings >= 10)) {
        alice.pump(50ms);
        if (!bobAnswered) {
            bobBytes += bob.receive(10ms);
            auto at = bobBytes.find(kPing);
            if (at != std::string::npos) {
                bobBytes.erase(at, kPing.size());
                bob.send(frame(11, ""));
                bobAnswered = true;
            }
        }
        if (!bobDropped) bobDropped = server->waitForText(kStale, 10ms).has_value();
    }

    ASSERT_TRUE(bobDropped) << server->transcript();
    EXPECT_TRUE(bobAnswered);
    EXPECT_GE(alice.pings, 10);
    EXPECT_EQ(alice.others, std::vector<Packet>{packet(4, {"bob"})});
    EXPECT_FALSE(alice.wire.closedByServer());
    const auto& lines = server->lines();
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(),
                             [](const std::string& line) { return line.find("Socket #1 is stale") != std::string::npos; }))
        << server->transcript();

    // Bob is told nothing: after his welcome only pings came, then the end of the connection.
    std::optional<std::string> last = bob.waitClosed();
    ASSERT_TRUE(last.has_value());
    std::vector<Packet> toBob = decode(bobBytes + *last);
    ASSERT_GE(toBob.size(), 2u) << ::testing::PrintToString(toBob);
    EXPECT_EQ(toBob[0], packet(5, {"Murmur Server v1.2 by Halden", "normal"}));
    EXPECT_EQ(toBob[1], packet(13, {"Main", "success"}));
    for (std::size_t i = 2; i < toBob.size(); ++i) EXPECT_EQ(toBob[i], (Packet{11, ""})) << i;

    // Alice hears from the server still: the next ping comes and is answered.
    int before = alice.pings;
    auto more = std::chrono::steady_clock::now() + kPatience;
    while (alice.pings == before && std::chrono::steady_clock::now() < more) alice.pump(100ms);
    EXPECT_GT(alice.pings, before);
}

}  // namespace
}  // namespace murmur::test
