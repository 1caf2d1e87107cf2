// The bounds that keep the server's resources for the clients it serves: connections that never
// log on, a client that stops reading, too many connections, and a settings file that survives
// a killed server.
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <thread>

#include "support/ServerFixture.h"
#include "support/ServerProcess.h"
#include "support/WireClient.h"

namespace murmur::test {
namespace {

using namespace std::chrono_literals;

const std::string kNoSpam = "[Spam Control]\r\nEnabled=N\r\n";

std::vector<Packet> logOn(WireClient& client, const std::string& name) {
    client.send(frame(1, fields({name, "", "1"})));
    return client.takePackets(2);  // the welcome and the join
}

class Limits : public ::testing::Test {
protected:
    void run(const std::vector<std::string>& options, const std::string& extra = kNoSpam) {
        writeConfig(dir, port, extra);
        std::vector<std::string> arguments = options;
        server = std::make_unique<ServerProcess>(dir.path(), arguments);
        ASSERT_TRUE(server->waitForText("Listening on port " + std::to_string(port) + "...")) << server->transcript();
    }
    void TearDown() override {
        if (server && server->running()) {
            EXPECT_EQ(server->terminate(), 0) << server->transcript();
        }
    }

    TempDir dir;
    int port = freePort();
    std::unique_ptr<ServerProcess> server;
};

TEST_F(Limits, SilentConnectionsAreClosedAfterTheLogonTimeoutWhileAUserStaysServed) {
    run({"--logon-timeout", "1"});
    WireClient user(port);
    EXPECT_EQ(logOn(user, "alice").size(), 2u);

    std::vector<std::unique_ptr<WireClient>> silent;
    for (int i = 0; i < 300; ++i) silent.push_back(std::make_unique<WireClient>(port));
    for (auto& client : silent) {
        auto bytes = client->waitClosed(15s);
        ASSERT_TRUE(bytes.has_value()) << "a silent connection was not closed";
        EXPECT_EQ(*bytes, "");  // closed without a word
    }
    // The user never noticed: a line said alone is still answered.
    user.send(frame(2, fields({"alice", "anyone?"})));
    EXPECT_EQ(user.takePackets(1), std::vector<Packet>{packet(3, {"No one can hear you.", "1"})});
    EXPECT_FALSE(user.closedByServer());
}

TEST_F(Limits, AClientThatStopsReadingIsDroppedAndTheOthersGetEveryLine) {
    run({"--send-limit", "100000"});
    WireClient stalled(port, 4096);
    logOn(stalled, "stalled");
    WireClient listener(port);
    logOn(listener, "listener");
    WireClient talker(port);
    logOn(talker, "talker");
    listener.takePackets(2);  // talker's arrival in the channel
    ASSERT_TRUE(server->waitForLine("nickname: talker"));

    const std::string text(180, 'x');
    constexpr int kLines = 5000;
    std::vector<Packet> heard;
    bool stalledLeft = false;
    auto listen = [&](std::size_t wanted) {
        while (heard.size() < wanted) {
            auto more = listener.takePackets(1, 5s);
            if (more.empty()) return;
            for (const Packet& p : more) {
                if (p.id == 2) heard.push_back(p);
                if (p == Packet{4, "stalled"}) stalledLeft = true;
            }
        }
    };
    // The listener keeps up with the talker, so only the stalled client's output piles up.
    for (int sent = 0; sent < kLines;) {
        std::string burst;
        for (int i = 0; i < 100; ++i, ++sent) burst += frame(2, fields({"talker", std::to_string(sent) + text}));
        talker.send(burst);
        talker.takePackets(0, 0ms);  // answers its keep-alives, or it would be taken for dead
        listen(static_cast<std::size_t>(sent));
    }
    ASSERT_EQ(heard.size(), static_cast<std::size_t>(kLines));
    for (int i = 0; i < kLines; ++i) ASSERT_EQ(heard[i], packet(2, {"talker", std::to_string(i) + text}));
    EXPECT_TRUE(stalledLeft) << "the others were not told that the stalled client left";
    EXPECT_TRUE(server->waitForText("Connection #1 (from 127.0.0.1) has logged out of Murmur."));
}

TEST_F(Limits, ConnectionsBeyondTheLimitAreClosedAtOnce) {
    run({"--max-connections", "3"});
    WireClient a(port), b(port), c(port);
    EXPECT_EQ(logOn(c, "carol").size(), 2u);
    WireClient extra(port);
    auto bytes = extra.waitClosed(5s);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, "");
    a.close();
    ASSERT_TRUE(server->waitForText("Connection #1 (from 127.0.0.1) has logged out of Murmur."));
    WireClient again(port);
    EXPECT_EQ(logOn(again, "dave").size(), 2u);
}

TEST(SettingsFile, AKilledServerLeavesTheOldFileOrTheNewOneWhole) {
    const std::string written =
        "[Server]\r\nPort=%\r\nProtocol=0\r\n[Settings]\r\nAuthentication=N\r\nIdleSystem=N\r\nWriteLogToFile=N\r\n"
        "[Idle System]\r\nEnabled=N\r\nIdleTime=5\r\n[Spam Control]\r\nMessageCount=5\r\nSecondsToCheck=3\r\nEnabled=Y\r\n"
        "[Load Control]\r\nEnabled=N\r\nAmountOfConnections=5\r\nAmountOfTime=3\r\n";
    for (int round = 0; round < 10; ++round) {
        TempDir dir;
        int port = freePort();
        writeConfig(dir, port);
        const std::string before = dir.read("MMConf.ini");
        std::string after = written;
        after.replace(after.find('%'), 1, std::to_string(port));
        ServerProcess server(dir.path());
        ASSERT_TRUE(server.waitForText("Listening on port " + std::to_string(port) + "..."));
        ::kill(server.pid(), SIGTERM);
        std::this_thread::sleep_for(std::chrono::microseconds(200 * round));
        ::kill(server.pid(), SIGKILL);
        server.waitForExit();
        std::string now = dir.read("MMConf.ini");
        EXPECT_TRUE(now == before || now == after) << "round " << round << ": " << now;
        EXPECT_FALSE(dir.exists("MMConf.ini.tmp") && now != before && now != after);
    }
}

}  // namespace
}  // namespace murmur::test
