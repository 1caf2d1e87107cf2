// What an operator does around a running server: reloading edited lists with SIGHUP, and looking
// over a data directory with --check.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>

#include "support/ServerFixture.h"
#include "support/ServerProcess.h"
#include "support/WireClient.h"

namespace murmur::test {
namespace {

std::vector<Packet> logOn(WireClient& client, const std::string& name) {
    client.send(frame(1, fields({name, "", "1"})));
    return client.takePackets(2);
}

TEST(Reload, SighupReadsTheEditedListsWithoutARestart) {
    TempDir dir;
    int port = freePort();
    writeConfig(dir, port);
    dir.write("RestrictedChannels.txt", "Backstage\r\n");
    ServerProcess server(dir.path());
    ASSERT_TRUE(server.waitForText("Listening on port " + std::to_string(port) + "...")) << server.transcript();
    WireClient bob(port);
    logOn(bob, "bob");
    bob.send(frame(12, fields({"bob", "Secret"})));
    EXPECT_EQ(bob.takePackets(1), std::vector<Packet>{packet(13, {"Secret", "success"})});

    dir.write("RestrictedChannels.txt", "Backstage\r\nSecret\r\n");
    dir.write("Idles.txt", "Welcome to %v\r\nBe kind\r\n");
    ::kill(server.pid(), SIGHUP);
    EXPECT_TRUE(server.waitForText(
        "Reloaded RestrictedChannels.txt (2 channels), AllowedChannels.txt (0 channels) and Idles.txt (2 messages)."))
        << server.transcript();
    bob.send(frame(12, fields({"bob", "Main"})));
    bob.takePackets(1);
    bob.send(frame(12, fields({"bob", "secret"})));
    EXPECT_EQ(bob.takePackets(1), std::vector<Packet>{packet(3, {"That channel is restricted.", "0"})});
    EXPECT_EQ(server.terminate(), 0);
}

class Check : public ::testing::Test {
protected:
    // Runs --check on the directory; the exit status and what it printed.
    std::pair<std::optional<int>, std::string> check() {
        ServerProcess run(ServerProcess::ExactArguments{}, {"--check", "--dir", dir.path()});
        auto status = run.waitForExit();
        std::string out;
        for (const auto& line : run.lines()) out += line + "\n";
        return {status, out};
    }
    TempDir dir;
};

TEST_F(Check, ACleanDirectoryPassesAndTellsWhatItHolds) {
    writeConfig(dir, 4900);
    dir.write("users.txt", "bob:xyz\r\nalice:abc\r\n");
    dir.write("admin.txt", "alice\r\n");
    dir.write("Idles.txt", "Hello\r\n");
    auto [status, out] = check();
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Settings in effect: Port=4900 Protocol=0"), std::string::npos) << out;
    EXPECT_NE(out.find("Accounts (users.txt): 2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Administrators (admin.txt): 1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Idle messages (Idles.txt): 1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("No problems found.\n"), std::string::npos) << out;
    EXPECT_FALSE(dir.exists("logs"));
}

TEST_F(Check, ABadPortOrAnUnreadableRosterIsAProblem) {
    dir.write("MMConf.ini", "[Server]\r\nPort=99999\r\n");
    auto [status, out] = check();
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("Problem: MMConf.ini: Server/Port cannot be taken (Overflow)"), std::string::npos) << out;

    writeConfig(dir, 4900);
    std::filesystem::create_directory(dir.file("mods.txt"));
    auto [again, text] = check();
    EXPECT_EQ(again, 1) << text;
    EXPECT_NE(text.find("Problem: mods.txt cannot be read.\n"), std::string::npos) << text;
    EXPECT_NE(text.find("1 problem found.\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace murmur::test
