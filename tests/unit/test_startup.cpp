// MMConf.ini in, settings in memory, the listener, and MMConf.ini out again.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/Lifecycle.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Lines = std::vector<std::string>;

class StartupTest : public ServerTest, public Frontend {
protected:
    void messageBox(const std::string& text) override { calls.push_back("box: " + text); }
    void askAlternatePort() override { calls.push_back("ask port"); }
    FakeListener& listener() { return static_cast<FakeListener&>(host.listener()); }
    Lines calls;
};

TEST_F(StartupTest, WithoutAFileEveryDefaultHoldsAndShutdownWritesAllThirteenKeys) {
    start();
    EXPECT_EQ(listener().localPort(), 4800);
    EXPECT_EQ(listener().boundAddress, "");
    EXPECT_EQ(server->tmrLoad->interval(), 3000);
    shutDown(*server);
    EXPECT_EQ(dir.read("MMConf.ini"), "[Server]\r\nPort=4800\r\nProtocol=0\r\n[Settings]\r\nAuthentication=N\r\nIdleSystem=N\r\n"
              "WriteLogToFile=N\r\n[Idle System]\r\nEnabled=N\r\nIdleTime=5\r\n[Spam Control]\r\nMessageCount=5\r\nSecondsToCheck=3\r\n"
              "Enabled=Y\r\n[Load Control]\r\nEnabled=N\r\nAmountOfConnections=5\r\nAmountOfTime=3\r\n");
}

TEST_F(StartupTest, ValuesAreReadAndOtherLinesOfTheFileSurvive) {
    dir.write("MMConf.ini", "; notes\r\n[server]\r\nPORT = 4900 \r\nprotocol=7\r\nOwner=Halden\r\n\r\n"
                            "[Settings]\r\nIdleSystem=y\r\n[Spam Control]\r\nMessageCount=abc\r\nSecondsToCheck=&H0A\r\n");
    start();
    EXPECT_EQ(listener().boundAddress, "127.0.0.1");
    EXPECT_FALSE(server->tmrIdle->enabled());  // only "Y" exactly turns the idle system on
    EXPECT_EQ(server->tmrHandleJunk->interval(), 10000);
    shutDown(*server);
    EXPECT_EQ(dir.read("MMConf.ini"), "; notes\r\n[server]\r\nPort=4900\r\nProtocol=1\r\nOwner=Halden\r\n\r\n[Settings]\r\nIdleSystem=y\r\n"
              "Authentication=N\r\nWriteLogToFile=N\r\n[Spam Control]\r\nMessageCount=5\r\nSecondsToCheck=10\r\nEnabled=Y\r\n"
              "[Idle System]\r\nEnabled=y\r\nIdleTime=5\r\n[Load Control]\r\nEnabled=N\r\nAmountOfConnections=5\r\nAmountOfTime=3\r\n");
}

TEST_F(StartupTest, AnOverflowStopsTheReadingAndWhatWasNotReadIsNotWritten) {
    dir.write("MMConf.ini", "[Server]\r\nPort=40000\r\n[Settings]\r\nAuthentication=Y\r\n");
    start();
    EXPECT_EQ(chatLines(), (Lines{"Error #6: Overflow in Form_Load()", "Listening on port 0..."}));
    EXPECT_EQ(server->rtbChat.lines()[0].pieces[1].colour, colour::red);
    EXPECT_FALSE(host.listener().isListening());
    shutDown(*server);
    EXPECT_EQ(dir.read("MMConf.ini"), "[Server]\r\nPort=40000\r\nProtocol=0\r\n[Settings]\r\nAuthentication=Y\r\n");

    // A spam window beyond 16 bits of milliseconds fails after everything is read.
    dir.write("MMConf.ini", "[Spam Control]\r\nSecondsToCheck=33\r\n[Settings]\r\nAuthentication=Y\r\n");
    Server again(host, dir.path());
    startUp(again);
    EXPECT_EQ(again.rtbChat.lines()[0].text(), "[12:34:56] Error #6: Overflow in Form_Load()");
    EXPECT_EQ(again.settings.authentication, "Y");
    EXPECT_EQ(again.tmrHandleJunk->interval(), 0);  // keeps its earlier period
    EXPECT_TRUE(host.listener().isListening());
}

TEST_F(StartupTest, ATakenPortAsksForAnotherWithoutLosingTheRestOfTheSettings) {
    const std::string file = "[Server]\r\nPort=4800\r\n[Settings]\r\nAuthentication=Y\r\n";
    dir.write("MMConf.ini", file);
    server->frontend = this;
    listener().takenPorts = {4800, 4801};
    start();
    EXPECT_EQ(calls, (Lines{"box: The current port is already being used. Please select an alternate one to listen on.", "ask port"}));
    EXPECT_EQ(server->settings.authentication, "Y");
    EXPECT_FALSE(listenOnAlternatePort(*server, 4801));
    EXPECT_TRUE(listenOnAlternatePort(*server, 4802));
    EXPECT_EQ(listener().localPort(), 4802);
    EXPECT_EQ(calls.back(), "box: Since an alternate port has been used, your new settings will not be saved.");
    EXPECT_EQ(chatLines(), (Lines{"Listening on port 4800...", "Port cannot be bound, already in use.", "Opening a new port...",
                                  "Listening on port 4802..."}));
    shutDown(*server);
    EXPECT_EQ(dir.read("MMConf.ini"), file);
    server->frontend = nullptr;
}

TEST_F(StartupTest, TheChatLogGetsEveryLinePrintableAndReportsAFailureOnce) {
    dir.write("MMConf.ini", "[Settings]\r\nWriteLogToFile=Y\r\n");
    start();
    addChat(*server, {{colour::yellow, "Esc\x1b[2J"}, {colour::white, " caf\xe9"}});
    EXPECT_EQ(dir.read("logs/chat-2026-12-07.txt"), "[12:34:56] Listening on port 4800...\n[12:34:56] Esc\\x1B[2J caf\xc3\xa9\n");
    std::filesystem::remove_all(dir.file("logs"));
    dir.write("logs", "a file where the folder should be");
    for (const char* text : {"one", "two"}) addChat(*server, {{colour::white, text}});
    const std::string failure = "The chat log could not be written to " + dir.file("logs") + "/chat-2026-12-07.txt.";
    EXPECT_EQ(chatLines(), (Lines{"Listening on port 4800...", "Esc\x1b[2J caf\xe9", "one", failure, "two"}));
}

}  // namespace
}  // namespace murmur::test
