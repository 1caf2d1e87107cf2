// MMConf.ini in, settings in memory, the listener, and MMConf.ini out again.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/Lifecycle.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

const std::string kAllDefaults =
    "[Server]\r\nPort=4800\r\nProtocol=0\r\n"
    "[Settings]\r\nAuthentication=N\r\nIdleSystem=N\r\nWriteLogToFile=N\r\n"
    "[Idle System]\r\nEnabled=N\r\nIdleTime=5\r\n"
    "[Spam Control]\r\nMessageCount=5\r\nSecondsToCheck=3\r\nEnabled=Y\r\n"
    "[Load Control]\r\nEnabled=N\r\nAmountOfConnections=5\r\nAmountOfTime=3\r\n";

class RecordingFrontend : public Frontend {
public:
    void messageBox(const std::string& text) override { calls.push_back("box: " + text); }
    void askAlternatePort() override { calls.push_back("ask port"); }
    std::vector<std::string> calls;
};

class StartupTest : public ServerTest {};

TEST_F(StartupTest, WithoutAFileEveryDefaultHoldsAndShutdownWritesAllThirteenKeys) {
    start();
    const Settings& s = server->settings;
    EXPECT_EQ(s.port, 4800);
    EXPECT_EQ(s.protocol, 0);
    EXPECT_EQ(s.authentication, "N");
    EXPECT_EQ(s.spamControl, "Y");
    EXPECT_EQ(s.idleSystem, "N");
    EXPECT_EQ(s.loadControl, "N");
    EXPECT_EQ(s.writeLogToFile, "N");
    EXPECT_EQ(s.messageCount, 5);
    EXPECT_EQ(s.secondsToCheck, 3);
    EXPECT_EQ(s.amountOfConnections, 5);
    EXPECT_EQ(s.amountOfTime, 3);
    EXPECT_EQ(s.idleTime, 5);
    EXPECT_TRUE(host.listener().isListening());
    EXPECT_EQ(host.listener().localPort(), 4800);
    EXPECT_EQ(static_cast<FakeListener&>(host.listener()).boundAddress, "");
    EXPECT_EQ(server->tmrHandleJunk->interval(), 3000);
    EXPECT_EQ(server->tmrLoad->interval(), 3000);
    EXPECT_FALSE(server->tmrIdle->enabled());
    EXPECT_EQ(server->lblUsers, "Total Users: 0");
    EXPECT_EQ(chatLines(), std::vector<std::string>{"Listening on port 4800..."});
    EXPECT_EQ(lastLine().pieces[1].colour, colour::yellow);
    EXPECT_EQ(lastLine().pieces[0], (ChatPiece{colour::white, "[12:34:56] "}));

    shutDown(*server);
    EXPECT_EQ(dir.read("MMConf.ini"), kAllDefaults);
}

TEST_F(StartupTest, ValuesAreReadAndOtherLinesOfTheFileSurvive) {
    dir.write("MMConf.ini",
              "; operator's notes\r\n[server]\r\nPORT = 4900 \r\nprotocol=7\r\nOwner=Halden\r\n\r\n"
              "[Settings]\r\nAuthentication=Y\r\nIdleSystem=y\r\n[Spam Control]\r\nMessageCount=abc\r\n"
              "SecondsToCheck=&H0A\r\n");
    start();
    EXPECT_EQ(server->settings.port, 4900);
    EXPECT_EQ(server->settings.protocol, 1);
    EXPECT_EQ(static_cast<FakeListener&>(host.listener()).boundAddress, "127.0.0.1");
    EXPECT_EQ(server->settings.authentication, "Y");
    EXPECT_EQ(server->settings.idleSystem, "y");
    EXPECT_FALSE(server->tmrIdle->enabled());  // only "Y" exactly turns the idle system on
    EXPECT_EQ(server->settings.messageCount, 5);
    EXPECT_EQ(server->settings.secondsToCheck, 10);
    EXPECT_EQ(server->tmrHandleJunk->interval(), 10000);

    shutDown(*server);
    EXPECT_EQ(dir.read("MMConf.ini"),
              "; operator's notes\r\n[server]\r\nPort=4900\r\nProtocol=1\r\nOwner=Halden\r\n\r\n"
              "[Settings]\r\nAuthentication=Y\r\nIdleSystem=y\r\nWriteLogToFile=N\r\n"
              "[Spam Control]\r\nMessageCount=5\r\nSecondsToCheck=10\r\nEnabled=Y\r\n"
              "[Idle System]\r\nEnabled=y\r\nIdleTime=5\r\n"
              "[Load Control]\r\nEnabled=N\r\nAmountOfConnections=5\r\nAmountOfTime=3\r\n");
}

TEST_F(StartupTest, APortBeyondSixteenBitsStopsTheReadingAndNothingUnreadIsOverwritten) {
    const std::string file = "[Server]\r\nPort=40000\r\n[Settings]\r\nAuthentication=Y\r\n";
    dir.write("MMConf.ini", file);
    start();
    EXPECT_EQ(chatLines(), (std::vector<std::string>{"Error #6: Overflow in Form_Load()", "Listening on port 0..."}));
    EXPECT_EQ(server->rtbChat.lines()[0].pieces[1].colour, colour::red);
    EXPECT_FALSE(host.listener().isListening());
    EXPECT_EQ(server->settings.authentication, "");  // not read in this run
    EXPECT_EQ(server->settings.spamControl, "");

    shutDown(*server);
    EXPECT_EQ(dir.read("MMConf.ini"), "[Server]\r\nPort=40000\r\nProtocol=0\r\n[Settings]\r\nAuthentication=Y\r\n");
}

TEST_F(StartupTest, ASpamWindowBeyondSixteenBitsOfMillisecondsKeepsTheSettingsReadBefore) {
    dir.write("MMConf.ini", "[Spam Control]\r\nSecondsToCheck=40\r\nMessageCount=9\r\n[Settings]\r\nAuthentication=Y\r\n");
    start();
    EXPECT_EQ(chatLines(), (std::vector<std::string>{"Error #6: Overflow in Form_Load()", "Listening on port 4800..."}));
    EXPECT_TRUE(host.listener().isListening());
    EXPECT_EQ(server->settings.authentication, "Y");
    EXPECT_EQ(server->settings.messageCount, 9);
    EXPECT_EQ(server->settings.secondsToCheck, 40);
    EXPECT_EQ(server->tmrHandleJunk->interval(), 0);  // keeps its earlier period

    server->settings.secondsToCheck = 32;
    dir.write("MMConf.ini", "[Spam Control]\r\nSecondsToCheck=32\r\n");
    Server again(host, dir.path());
    startUp(again);
    EXPECT_EQ(again.tmrHandleJunk->interval(), 32000);
}

TEST_F(StartupTest, ATakenPortAsksForAnotherWithoutLosingTheRestOfTheSettings) {
    const std::string file = "[Server]\r\nPort=4800\r\n[Settings]\r\nAuthentication=Y\r\n";
    dir.write("MMConf.ini", file);
    RecordingFrontend frontend;
    server->frontend = &frontend;
    static_cast<FakeListener&>(host.listener()).takenPorts = {4800, 4801};
    start();
    EXPECT_EQ(frontend.calls, (std::vector<std::string>{
                                  "box: The current port is already being used. Please select an alternate one to listen on.",
                                  "ask port"}));
    EXPECT_EQ(server->settings.authentication, "Y");
    EXPECT_EQ(chatLines(), std::vector<std::string>{"Listening on port 4800..."});

    EXPECT_FALSE(listenOnAlternatePort(*server, 4801));
    EXPECT_FALSE(server->settings.usingAlternatePort);
    EXPECT_TRUE(listenOnAlternatePort(*server, 4802));
    EXPECT_EQ(host.listener().localPort(), 4802);
    EXPECT_EQ(frontend.calls.back(), "box: Since an alternate port has been used, your new settings will not be saved.");
    EXPECT_EQ(chatLines(), (std::vector<std::string>{"Port cannot be bound, already in use.", "Opening a new port...",
                                                     "Listening on port 4802..."}));
    const auto& lines = server->rtbChat.lines();
    EXPECT_EQ(lines[lines.size() - 3].pieces[1].colour, colour::red);
    EXPECT_EQ(lines[lines.size() - 2].pieces[1].colour, colour::yellow);
    EXPECT_EQ(lines[lines.size() - 1].pieces[1].colour, colour::green);

    shutDown(*server);
    EXPECT_EQ(dir.read("MMConf.ini"), file);
    server->frontend = nullptr;
}

TEST_F(StartupTest, TheListsAreReadWholeAndSplitAtCrLf) {
    start();
    EXPECT_EQ(server->restrictedChannels, std::vector<std::string>{""});
    EXPECT_EQ(server->idleMessages, std::vector<std::string>{""});

    dir.write("RestrictedChannels.txt", "Admin Lounge\r\nBackstage\r\n");
    dir.write("Idles.txt", "Welcome to %v\r\nSay hi to %rnd");
    Server again(host, dir.path());
    startUp(again);
    EXPECT_EQ(again.restrictedChannels, (std::vector<std::string>{"Admin Lounge", "Backstage", ""}));
    EXPECT_EQ(again.idleMessages, (std::vector<std::string>{"Welcome to %v", "Say hi to %rnd"}));
}

TEST_F(StartupTest, TheChatLogGetsEveryLineWhenSwitchedOnAndReportsAFailureOnce) {
    dir.write("MMConf.ini", "[Settings]\r\nWriteLogToFile=Y\r\n");
    start();
    addChat(*server, {{colour::yellow, "Esc\x1b[2J"}, {colour::white, " caf\xe9"}});
    EXPECT_EQ(dir.read("logs/chat-2026-12-07.txt"),
              "[12:34:56] Listening on port 4800...\n[12:34:56] Esc\\x1B[2J caf\xc3\xa9\n");

    std::filesystem::remove_all(dir.file("logs"));
    dir.write("logs", "a file where the folder should be");
    chatLines();
    addChat(*server, {{colour::white, "one"}});
    addChat(*server, {{colour::white, "two"}});
    std::string path = dir.file("logs") + "/chat-2026-12-07.txt";
    EXPECT_EQ(chatLines(), (std::vector<std::string>{"one", "The chat log could not be written to " + path + ".", "two"}));
}

}  // namespace
}  // namespace murmur::test
