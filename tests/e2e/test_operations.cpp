// What an operator does around a running server: reloading edited lists with SIGHUP, and looking
// over a data directory with --check.
#include <csignal>
#include <filesystem>

#include "support/E2e.h"

namespace murmur::test {
namespace {

using Operations = E2e;

TEST_F(Operations, SighupReadsTheEditedListsWithoutARestart) {
    dir.write("RestrictedChannels.txt", "Backstage\r\n");
    run();
    WireClient bob(port);
    logOn(bob, "bob");
    bob.send(frame(12, fields({"bob", "Secret"})));
    EXPECT_EQ(bob.takePackets(1), Packets{packet(13, {"Secret", "success"})});

    dir.write("RestrictedChannels.txt", "Backstage\r\nSecret\r\n");
    dir.write("Idles.txt", "Welcome to %v\r\nBe kind\r\n");
    ::kill(server->pid(), SIGHUP);
    EXPECT_TRUE(server->waitForText(
        "Reloaded RestrictedChannels.txt (2 channels), AllowedChannels.txt (0 channels) and Idles.txt (2 messages)."));
    bob.send(frame(12, fields({"bob", "Main"})));
    EXPECT_EQ(bob.takePackets(1), Packets{packet(13, {"Main", "success"})});
    bob.send(frame(12, fields({"bob", "secret"})));
    EXPECT_EQ(bob.takePackets(1), Packets{packet(3, {"That channel is restricted.", "0"})});
}

TEST_F(Operations, MMConfEditedWhileRunningKeepsTheEdit) {
    run();
    std::string edited = allKeys(port);
    edited.replace(edited.find("MessageCount=5"), 14, "MessageCount=12");
    dir.write("MMConf.ini", edited);
    EXPECT_EQ(server->terminate(), 0);
    EXPECT_TRUE(server->waitForText("Kept as edited in MMConf.ini while the server ran: Spam Control/MessageCount=12."));
    EXPECT_EQ(dir.read("MMConf.ini"), edited);
}

// The exit status of --check on the data directory, and all it printed.
std::pair<std::optional<int>, std::string> check(const std::string& directory) {
    ServerProcess run(ServerProcess::ExactArguments{}, {"--check", "--dir", directory});
    auto status = run.waitForExit();
    return {status, run.output()};
}

TEST_F(Operations, CheckTellsWhatTheDirectoryHoldsAndFindsItsProblems) {
    writeConfig(dir, 4900);
    dir.write("users.txt", "bob:xyz\r\nalice:abc\r\n");
    dir.write("admin.txt", "alice\r\n");
    dir.write("Idles.txt", "Hello\r\n");
    auto [status, out] = check(dir.path());
    EXPECT_EQ(status, 0) << out;
    for (const char* text : {"Settings in effect: Port=4900 Protocol=0", "Accounts (users.txt): 2\n",
                             "Administrators (admin.txt): 1\n", "Idle messages (Idles.txt): 1\n", "No problems found.\n"})
        EXPECT_NE(out.find(text), std::string::npos) << text << " is not in\n" << out;
    EXPECT_FALSE(dir.exists("logs"));

    dir.write("MMConf.ini", "[Server]\r\nPort=99999\r\n");
    std::filesystem::create_directory(dir.file("mods.txt"));
    dir.write("admin.txt", "alice\r\nboss\r\n");  // staff rank needs a password: boss has none
    std::tie(status, out) = check(dir.path());
    EXPECT_EQ(status, 1) << out;
    for (const char* text : {"Problem: MMConf.ini: Server/Port cannot be taken (Overflow); the server stops reading the "
                             "settings there.\n",
                             "Problem: mods.txt cannot be read.\n",
                             "Problem: admin.txt line 2 boss has no password: staff rights need one; set it with "
                             "murmur-server --passwd boss\n",
                             "3 problems found.\n"})
        EXPECT_NE(out.find(text), std::string::npos) << text << " is not in\n" << out;

    // Every problem of the file in one look, also past the value that stops the server's reading.
    std::filesystem::remove(dir.file("mods.txt"));
    dir.write("admin.txt", "alice\r\n");
    dir.write("MMConf.ini", "[Server]\r\nPort=abc\r\n[Spam Control]\r\nMessageCount=40000\r\n[Load Control]\r\nAmountOfTime=61\r\n");
    std::tie(status, out) = check(dir.path());
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("Problem: MMConf.ini: Spam Control/MessageCount cannot be taken (Overflow); the server stops reading the "
                       "settings there.\n"
                       "Problem: Server/Port \"abc\" is not a number: the server takes the default, 4800.\n"
                       "Problem: Load Control/AmountOfTime 61 is outside 0 to 60, the range the settings dialog allows.\n"),
              std::string::npos) << out;
    EXPECT_NE(out.find("3 problems found.\n"), std::string::npos) << out;

    std::tie(status, out) = check(dir.file("missing"));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "Data directory: " + dir.file("missing") + "\nProblem: The data directory " + dir.file("missing") +
                       " does not exist.\n1 problem found.\n");
    EXPECT_FALSE(dir.exists("missing"));
}

}  // namespace
}  // namespace murmur::test
