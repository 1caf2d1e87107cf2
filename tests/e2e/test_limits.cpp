// Connections that never log on are closed after the logon timeout, and a settings file survives a
// killed server.
#include <csignal>
#include <thread>

#include "support/E2e.h"

namespace murmur::test {
namespace {

const std::string kNoSpam = "[Spam Control]\r\nEnabled=N\r\n";

using Limits = E2e;

TEST_F(Limits, SilentConnectionsAreClosedAfterTheLogonTimeoutWhileAUserStaysServed) {
    run(kNoSpam, {"--logon-timeout", "1"});
    WireClient user(port);
    EXPECT_EQ(logOn(user, "alice"), kWelcome);
    std::vector<std::unique_ptr<WireClient>> silent;
    for (int i = 0; i < 300; ++i) silent.push_back(std::make_unique<WireClient>(port));
    for (auto& client : silent) ASSERT_EQ(client->waitClosed(15s), "");  // without a word
    user.send(frame(2, fields({"alice", "anyone?"})));
    EXPECT_EQ(user.takePackets(1), Packets{packet(3, {"No one can hear you.", "1"})});
}

// Killed at any moment of its shutdown, the server leaves the old file or the new one, whole.
TEST_F(Limits, AKilledServerLeavesTheOldSettingsFileOrTheNewOne) {
    for (int round = 0; round < 10; ++round) {
        port = freePort();
        run();
        const std::string before = dir.read("MMConf.ini");
        ::kill(server->pid(), SIGTERM);
        std::this_thread::sleep_for(std::chrono::microseconds(200 * round));
        ::kill(server->pid(), SIGKILL);
        server->waitForExit();
        std::string now = dir.read("MMConf.ini");
        EXPECT_TRUE(now == before || now == allKeys(port)) << round << ": " << now;
    }
}

}  // namespace
}  // namespace murmur::test
