// The operator's console on a running server through its control socket: terminals that attach,
// one entry from a script, the console's own commands, and who may use it.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <regex>

#include "support/E2e.h"

namespace murmur::test {
namespace {

using Lines = std::vector<std::string>;

const std::string kClosed = "murmur-server: the server closed the console.\n";

class Console : public E2e {
protected:
    std::unique_ptr<ServerProcess> attach(const std::string& colour = "never") {
        return std::make_unique<ServerProcess>(ServerProcess::ExactArguments{},
                                               std::vector<std::string>{"--attach", "--dir", dir.path(), "--color", colour});
    }
    // What murmur-server --console printed for the entry, stamps left out; the exit status first.
    std::pair<std::optional<int>, Lines> console(const std::string& entry) {
        ServerProcess script(ServerProcess::ExactArguments{}, {"--console", entry, "--dir", dir.path(), "--color", "never"});
        auto status = script.waitForExit();
        Lines texts;
        for (auto text = script.nextText(); text; text = script.nextText()) texts.push_back(*text);
        return {status, texts};
    }
};

// The service's way: standard input at its end from the start, and the README's attach command.
TEST_F(Console, AnAttachedConsoleSeesWhatWasAndWhatComesAndKicks) {
    run();
    server->closeStdin();
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("murmur.sock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    WireClient bob(port), alice(port);
    logOn(bob, "bob");
    logOn(alice, "alice");
    EXPECT_EQ(bob.takePackets(2).size(), 2u);  // alice logged on and joined Main
    EXPECT_TRUE(server->waitForLine("nickname: alice."));

    auto terminal = attach();
    EXPECT_EQ(terminal->nextText(), "Murmur Server 1.2.0, data in " + dir.path());
    EXPECT_EQ(terminal->nextText(), listening(port));
    EXPECT_TRUE(terminal->waitForLine("nickname: alice."));
    terminal->sendConsole("/kick bob");
    const Packet kicked = packet(3, {"bob was kicked off of Murmur by Server Console.", "1"});
    EXPECT_EQ(bob.takePackets(1), Packets{kicked});
    EXPECT_EQ(bob.waitClosed(), "");
    EXPECT_TRUE(server->waitForText("bob was kicked from Murmur by Server Console."));
    EXPECT_TRUE(terminal->waitForText("bob was kicked from Murmur by Server Console."));

    terminal->closeStdin();
    EXPECT_EQ(terminal->waitForExit(), 0);
    EXPECT_EQ(terminal->errors(), "");  // not a terminal: no greeting, no farewell
    EXPECT_EQ(alice.takePackets(2), (Packets{kicked, packet(4, {"bob"})}));
    WireClient carol(port);
    EXPECT_EQ(logOn(carol, "carol"), kWelcome);
}

TEST_F(Console, TwoConsolesAtOnceAndTheLast500LinesForEach) {
    run();
    for (int i = 0; i < 600; ++i) server->sendConsole("m" + std::to_string(i));
    EXPECT_TRUE(server->waitForText("<SERVER MESSAGE> m599"));
    auto first = attach(), second = attach();
    // Two start-up lines and 600 messages: the last 500 are m100 to m599.
    for (auto* terminal : {first.get(), second.get()}) {
        EXPECT_EQ(terminal->nextText(), "<SERVER MESSAGE> m100");
        EXPECT_TRUE(terminal->waitForText("<SERVER MESSAGE> m599"));
    }
    for (auto* typing : {first.get(), second.get()}) {
        typing->sendConsole(typing == first.get() ? "from the first" : "from the second");
        for (auto* terminal : {first.get(), second.get()})
            EXPECT_EQ(terminal->nextText(), typing == first.get() ? "<SERVER MESSAGE> from the first"
                                                                  : "<SERVER MESSAGE> from the second");
    }

    // The server going away ends every console with a word and a failure.
    EXPECT_EQ(server->terminate(), 0);
    for (auto* terminal : {first.get(), second.get()}) {
        EXPECT_EQ(terminal->nextText(), "Shutting down: 0 users disconnected, settings saved to MMConf.ini.");
        EXPECT_EQ(terminal->waitForExit(), 1);
        EXPECT_EQ(terminal->errors(), kClosed);
    }
    EXPECT_FALSE(dir.exists("murmur.sock"));
}

TEST_F(Console, AttachedLinesAreColouredExactlyAsTheHeadlessOutput) {
    start("", {"--color", "always"});
    auto fromServer = server->waitForLine("Listening on port");
    ASSERT_TRUE(fromServer);
    // The stamp in the terminal's own colour, the line in 24-bit yellow.
    EXPECT_EQ(fromServer->substr(0, 6), "\x1b[39m[");
    EXPECT_EQ(fromServer->substr(16), "\x1b[38;2;255;255;0m" + listening(port) + "\x1b[0m");
    auto terminal = attach("always");
    EXPECT_EQ(terminal->waitForLine("Listening on port"), fromServer);
    server->sendConsole("caf\xc3\xa9 \\x1B");
    auto live = server->waitForLine("caf");
    ASSERT_TRUE(live);
    EXPECT_EQ(terminal->waitForLine("caf"), live);
}

TEST_F(Console, AnEntryFromAScriptShowsWhatItCaused) {
    run();
    WireClient bob(port);
    logOn(bob, "bob");
    EXPECT_TRUE(server->waitForLine("nickname: bob."));

    auto [status, lines] = console("/channels");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(lines, (Lines{"Main (1): bob", "Total Channels: 1"}));  // and nothing of the backlog

    std::tie(status, lines) = console("/users");
    EXPECT_EQ(status, 0);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(
        R"(Connection #1: bob from 127\.0\.0\.1 in Main, Murmur Client, logged on for 00:00:[0-5][0-9])"))) << lines[0];
    EXPECT_EQ(lines[1], "Total Users: 1");

    std::tie(status, lines) = console("/stats");
    EXPECT_EQ(status, 0);
    const std::vector<std::string> shapes = {R"(Uptime: 00:00:[0-5][0-9])", "Connections: 1 open, 1 users logged on",
                                             "Logons since start: 1 accepted, 0 refused",
                                             R"(Traffic since start: [0-9]+ bytes in, [0-9]+ bytes out)", R"(Memory: [0-9]+ kB)"};
    ASSERT_EQ(lines.size(), shapes.size());
    for (std::size_t i = 0; i < shapes.size(); ++i) EXPECT_TRUE(std::regex_match(lines[i], std::regex(shapes[i]))) << lines[i];

    std::tie(status, lines) = console("Closing in five minutes");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(lines, Lines{"<SERVER MESSAGE> Closing in five minutes"});
    EXPECT_EQ(bob.takePackets(1), Packets{packet(6, {"Closing in five minutes"})});

    TempDir empty;
    ServerProcess nobody(ServerProcess::ExactArguments{}, {"--console", "hello", "--dir", empty.path()});
    EXPECT_EQ(nobody.waitForExit(), 1);
    EXPECT_EQ(nobody.output(), "");
    EXPECT_EQ(nobody.errors(), "murmur-server: no server is running on " + empty.path() + " (" + empty.file("murmur.sock") +
                                   ": No such file or directory).\n");
}

TEST_F(Console, OneServerPerDataDirectoryAndAKilledOnesSocketIsReplaced) {
    run();
    const std::string before = dir.read("MMConf.ini");
    ServerProcess second(dir.path());
    EXPECT_EQ(second.waitForExit(), 1);
    EXPECT_EQ(second.output(), "");
    EXPECT_EQ(second.errors(), "murmur-server: another server is already running on the data directory " + dir.path() + ".\n");
    EXPECT_EQ(dir.read("MMConf.ini"), before);
    EXPECT_EQ(console("still here").first, 0);

    ::kill(server->pid(), SIGKILL);
    EXPECT_EQ(server->waitForExit(), 128 + SIGKILL);
    EXPECT_TRUE(dir.exists("murmur.sock"));
    run();
    EXPECT_EQ(console("/channels"), (std::pair<std::optional<int>, Lines>{0, {"Total Channels: 0"}}));
}

TEST_F(Console, AnotherUsersConnectionIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can try the socket as another user";
    run();
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const uid_t other = 65534;
    const std::vector<std::string> arguments = {"--attach", "--dir", dir.path()};
    ServerProcess byMode(ServerProcess::ExactArguments{}, arguments, ServerProcess::AsUser{other});
    EXPECT_EQ(byMode.waitForExit(), 1);
    EXPECT_EQ(byMode.errors(), "murmur-server: cannot reach the console of the server on " + dir.path() + " (" +
                                   dir.file("murmur.sock") +
                                   ": Permission denied); only the server's own user and root may attach.\n");
    // Past the file's mode, the server asks the kernel who is calling.
    ASSERT_EQ(::chmod(dir.file("murmur.sock").c_str(), 0666), 0);
    ServerProcess byCredentials(ServerProcess::ExactArguments{}, arguments, ServerProcess::AsUser{other});
    EXPECT_EQ(byCredentials.waitForExit(), 1);
    EXPECT_EQ(byCredentials.output(), "");
    EXPECT_EQ(byCredentials.errors(), "murmur-server: Only the server's own user and root may use its console.\n");
    auto line = server->waitForLine("A console connection from user 65534 (process ");
    ASSERT_TRUE(line);
    EXPECT_NE(line->find(") was refused: only the server's own user and root may attach."), std::string::npos) << *line;
}

// A console that stops reading is let go with a word once its lines pass the bound; the server
// goes on serving.
TEST_F(Console, AConsoleThatDoesNotReadIsLetGo) {
    run();
    int stuck = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = dir.file("murmur.sock");
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(::connect(stuck, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    // Lines of about 2 kB: some 2200 of them pass the bound.
    const std::string entry(1900, 'x');
    std::optional<std::string> letGo;
    for (int i = 0; i < 6000 && !letGo; ++i) {
        server->sendConsole(entry);
        if (i % 100 == 99) letGo = server->waitForLine(" was let go: it did not read its lines in time.", 50ms);
    }
    ASSERT_TRUE(letGo);
    EXPECT_EQ(letGo->substr(11, 23), "The console of process ");

    // What it is still given ends with the reason, and then the connection ends.
    std::string received;
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
        pollfd readable{stuck, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(timeLeft(deadline).count())) <= 0) break;
        char buffer[65536];
        ssize_t n = ::read(stuck, buffer, sizeof buffer);
        if (n <= 0) break;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(stuck);
    const std::string notice = "\nNThis console did not read the server's lines in time and was let go.\n";
    ASSERT_GE(received.size(), notice.size());
    EXPECT_EQ(received.substr(received.size() - notice.size()), notice);
    server->sendConsole("after");
    EXPECT_TRUE(server->waitForText("<SERVER MESSAGE> after"));
}

}  // namespace
}  // namespace murmur::test
