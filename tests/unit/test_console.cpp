// The operator's console line: server messages, the console's own commands, and the answers of
// staff commands that have no connection to go to.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "staff/Console.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;
using Lines = std::vector<std::string>;

class ConsoleTest : public ServerTest {
protected:
    void SetUp() override {
        start();
        dir.write("admin.txt", "alice\r\n");
        alice = logOn("alice");
        bob = logOn("bob");
        stranger = connect("10.0.0.9");
        forgetTraffic();
        host.events.clear();
    }

    int alice = -1, bob = -1, stranger = -1;
};

TEST_F(ConsoleTest, TextWithoutALeadingSlashIsAServerMessageToEveryConnectedClient) {
    server->consoleHandler("Restart at noon, all.");
    for (int c : {alice, bob, stranger})
        EXPECT_EQ(received(c), Packets{packet(6, {"Restart at noon, all."})}) << "connection " << c;
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "},
                                                         {colour::cyan, "<SERVER MESSAGE> "},
                                                         {colour::white, "Restart at noon, all."}}));

    // A leading space makes even a command a server message, sent as typed.
    consoleEntry(*server, " /kick bob");
    for (int c : {alice, bob, stranger}) EXPECT_EQ(received(c), Packets{packet(6, {" /kick bob"})});
    EXPECT_TRUE(server->users.contains(static_cast<ConnectionNumber>(bob)));
    EXPECT_EQ(chatLines(), (Lines{"<SERVER MESSAGE> Restart at noon, all.", "<SERVER MESSAGE>  /kick bob"}));

    // Closed sockets are passed over.
    socket(bob).close();
    consoleEntry(*server, "again");
    EXPECT_EQ(received(alice), Packets{packet(6, {"again"})});
    EXPECT_EQ(received(bob), Packets{});
}

TEST_F(ConsoleTest, EntriesThatDoNothing) {
    consoleEntry(*server, "");
    consoleEntry(*server, "/");
    consoleEntry(*server, "/   ");
    consoleEntry(*server, "/Kick bob");  // staff command words keep their letter case
    consoleEntry(*server, "/KICK bob");
    consoleEntry(*server, "/finger ghost");
    consoleEntry(*server, "/move ghost Lobby");
    EXPECT_EQ(host.events, std::vector<std::string>{});
    EXPECT_EQ(chatLines(), Lines{});
    EXPECT_EQ(server->users.count(), 3u);
}

TEST_F(ConsoleTest, ClsEmptiesTheViewInAnyLetterCase) {
    consoleEntry(*server, "hello");
    consoleEntry(*server, "/CLS");
    ASSERT_EQ(server->rtbChat.lines().size(), 1u);
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "},
                                                         {colour::green, "Dumped chat screen."}}));

    consoleEntry(*server, "hello");
    consoleEntry(*server, "/Cls with more words");
    ASSERT_EQ(server->rtbChat.lines().size(), 1u);
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::green, "Dumped chat screen."}));
}

TEST_F(ConsoleTest, SweepservDropsEveryConnectionWithoutAWord) {
    ASSERT_EQ(socketCount(*server), 3);
    consoleEntry(*server, "/SweepServ");

    EXPECT_EQ(host.events, (std::vector<std::string>{"close 0", "close 1", "close 2"}));
    EXPECT_EQ(socketCount(*server), 1);
    EXPECT_EQ(socket(0).state(), sckClosed);
    EXPECT_EQ(server->users.count(), 0u);
    EXPECT_EQ(server->lstUsers, Lines{});
    EXPECT_EQ(server->lblUsers, "Total Users: 0");
    EXPECT_EQ(chatLines(), Lines{});

    EXPECT_EQ(connect("10.0.0.5"), 0);
}

TEST_F(ConsoleTest, StaffCommandAnswersGoToTheChatView) {
    consoleEntry(*server, "/broadcast Back in five");
    for (int c : {alice, bob, stranger})
        EXPECT_EQ(received(c), Packets{packet(3, {"Broadcast from Server Console: Back in five", "1"})});
    EXPECT_EQ(chatLines(), Lines{"Broadcast from Server Console: Back in five"});

    consoleEntry(*server, "/finger BOB");
    EXPECT_EQ(chatLines(), Lines{"bob is using an IP address of 10.0.0.1"});
    EXPECT_EQ(lastLine().pieces[1].colour, colour::white);

    consoleEntry(*server, "/channelphantom on");
    EXPECT_EQ(chatLines(), Lines{"You will now hear messages in every channel."});
    EXPECT_EQ(lastLine().pieces[1].colour, colour::white);

    consoleEntry(*server, "/move alice Lobby");
    EXPECT_EQ(chatLines(), Lines{"The move command may not be used on staff."});
    EXPECT_EQ(lastLine().pieces[1].colour, colour::red);
    EXPECT_EQ(received(alice), Packets{});

    consoleEntry(*server, "/move bob Lobby");
    EXPECT_EQ(received(bob), (Packets{packet(3, {"You were moved to the channel Lobby by Server Console", "1"}),
                                      packet(13, {"Lobby", "success"})}));
    EXPECT_EQ(received(alice), (Packets{packet(3, {"bob was moved to the channel Lobby by Server Console", "1"}),
                                        packet(12, {"bob"})}));
    EXPECT_EQ(chatLines(), Lines{});
}

}  // namespace
}  // namespace murmur::test
