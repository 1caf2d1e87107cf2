// The operator's console line: server messages, the console's own commands, and the answers of
// staff commands that have no connection to go to.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "staff/Console.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Lines = std::vector<std::string>;

class ConsoleTest : public ServerTest {
protected:
    void SetUp() override {
        start();
        logOn("alice");
        logOn("bob");
        connect("10.0.0.9");
        forgetTraffic();
        host.events.clear();
    }
};

TEST_F(ConsoleTest, TextWithoutALeadingSlashIsAServerMessageToEveryConnectedClient) {
    for (const char* text : {"", "/", "/   ", "/Kick bob"}) consoleEntry(*server, text);
    EXPECT_EQ(host.events, Lines{});
    socket(1).close();
    consoleEntry(*server, " /kick bob");  // a leading space makes even a command a message
    for (int c : {0, 2}) EXPECT_EQ(received(c), std::vector<Packet>{packet(6, {" /kick bob"})});
    EXPECT_EQ(received(1), std::vector<Packet>{});
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "},
                                                         {colour::cyan, "<SERVER MESSAGE> "}, {colour::white, " /kick bob"}}));
}

TEST_F(ConsoleTest, ClsSweepservAndStaffCommandsInTheChatView) {
    consoleEntry(*server, "/finger BOB");  // answers go to the chat view, white unless refusals
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::white, "bob is using an IP address of 10.0.0.1"}));
    consoleEntry(*server, "/Cls with more words");
    ASSERT_EQ(server->rtbChat.lines().size(), 1u);
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::green, "Dumped chat screen."}));

    consoleEntry(*server, "/SWEEPSERV");  // every connection goes without a word
    EXPECT_EQ(host.events, (Lines{"close 2", "close 1", "close 0"}));
    EXPECT_EQ(socketCount(*server), 1);
    EXPECT_EQ(server->users.count(), 0u);
    EXPECT_EQ(server->lstUsers, Lines{});
    EXPECT_EQ(server->lblUsers, "Total Users: 0");
}

}  // namespace
}  // namespace murmur::test
