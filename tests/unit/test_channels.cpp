// Moving between channels: the fixed names, the length limit, the spelling a channel keeps while
// it has users, channel bans and restricted channels, and what the others in both channels hear.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using namespace std::string_literals;

const std::string kTooLong = "The channel name is too long.";
const std::string kRestricted = "That channel is restricted.";

Packet joined(const std::string& channel) { return packet(13, {channel, "success"}); }
Packet refused(const std::string& text) { return packet(3, {text, "0"}); }

class ChannelJoinTest : public ServerTest {
protected:
    void SetUp() override { start(); }

    void join(int c, const std::string& statedName, const std::string& channel) {
        deliver(c, frame(12, fields({statedName, channel})));
    }

    std::string channelOf(int c) { return server->users.find(static_cast<ConnectionNumber>(c))->channel; }
};

TEST_F(ChannelJoinTest, FixedNamesAreSpelledTheServersWayAndLongNamesAreRefused) {
    int a = logOn("alice");
    int b = logOn("bob");

    join(a, "alice", "the VOID");
    EXPECT_EQ(received(a), std::vector<Packet>{joined("The Void")});
    EXPECT_EQ(channelOf(a), "The Void");
    EXPECT_EQ(received(b), std::vector<Packet>{packet(12, {"alice"})});

    join(a, "alice", "MAIN");
    EXPECT_EQ(received(a), std::vector<Packet>{joined("Main")});
    EXPECT_EQ(channelOf(a), "Main");
    EXPECT_EQ(received(b), std::vector<Packet>{packet(15, {"alice"})});
    chatLines();

    const std::string fifteen = "Fifteen-Chars15";
    join(a, "alice", fifteen);
    EXPECT_EQ(received(a), std::vector<Packet>{joined(fifteen)});
    EXPECT_EQ(channelOf(a), fifteen);
    EXPECT_EQ(chatLines(), std::vector<std::string>{"alice has joined the channel " + fifteen});
    received(b);

    join(a, "alice", fifteen + "X");
    EXPECT_EQ(received(a), std::vector<Packet>{refused(kTooLong)});
    EXPECT_EQ(channelOf(a), fifteen);
    EXPECT_EQ(received(b), std::vector<Packet>{});
    EXPECT_EQ(chatLines(), std::vector<std::string>{});
    EXPECT_EQ(server->channelNames.count("fifteen-chars15x"), 0u);
}

TEST_F(ChannelJoinTest, AChannelKeepsTheFirstSpellingUntilItsLastUserJoinsElsewhere) {
    int a = logOn("alice");
    int b = logOn("bob");
    int c = logOn("carol");

    join(a, "alice", "Chat");
    EXPECT_EQ(received(a), std::vector<Packet>{joined("Chat")});
    forgetTraffic();
    join(b, "bob", "CHAT");
    EXPECT_EQ(received(b), std::vector<Packet>{joined("Chat")});
    EXPECT_EQ(channelOf(b), "Chat");
    EXPECT_EQ(received(a), std::vector<Packet>{packet(15, {"bob"})});

    // One user is still there: the spelling stays.
    join(a, "alice", "Main");
    forgetTraffic();
    join(c, "carol", "cHaT");
    EXPECT_EQ(received(c), std::vector<Packet>{joined("Chat")});

    join(b, "bob", "Main");
    join(c, "carol", "Main");
    EXPECT_EQ(server->channelNames.count("chat"), 0u);
    received(a);
    join(a, "alice", "CHAT");
    EXPECT_EQ(received(a), std::vector<Packet>{joined("CHAT")});
    EXPECT_EQ(channelOf(a), "CHAT");
}

TEST_F(ChannelJoinTest, TheEmptyNameIsRestrictedRightAfterStartUp) {
    int a = logOn("alice");
    int b = logOn("bob");
    EXPECT_EQ(server->restrictedChannels, std::vector<std::string>{""});

    join(a, "alice", "");
    EXPECT_EQ(received(a), std::vector<Packet>{refused(kRestricted)});
    EXPECT_EQ(channelOf(a), "Main");
    EXPECT_EQ(received(b), std::vector<Packet>{});
    EXPECT_EQ(chatLines(), std::vector<std::string>{});
}

TEST_F(ChannelJoinTest, ChannelBansKeepNormalUsersOutWhileStaffStay) {
    dir.write("admin.txt", "alice\r\n");
    dir.write("mods.txt", "mo\r\n");
    int eve = logOn("eve");
    int bob = logOn("bob");
    int alice = logOn("alice");
    int mo = logOn("mo");
    server->channelBans["lobby"] = "Eve, bob, mo";

    join(eve, "eve", "LOBBY");
    EXPECT_EQ(received(eve), std::vector<Packet>{refused("You are banned from channel LOBBY.")});
    EXPECT_EQ(channelOf(eve), "Main");
    join(bob, "BOB", "lobby");
    EXPECT_EQ(received(bob), std::vector<Packet>{refused("You are banned from channel lobby.")});
    EXPECT_EQ(received(alice), std::vector<Packet>{});
    EXPECT_EQ(chatLines(), std::vector<std::string>{});

    // A moderator named on the list walks in; the ban is for normal users.
    join(mo, "mo", "Lobby");
    EXPECT_EQ(received(mo), std::vector<Packet>{joined("Lobby")});
    EXPECT_EQ(received(alice), std::vector<Packet>{packet(12, {"@mo"})});
    join(alice, "alice", "lobby");
    EXPECT_EQ(received(alice), std::vector<Packet>{joined("Lobby")});

    // Another staff member is still there: the ban lasts.
    join(mo, "mo", "Main");
    EXPECT_EQ(server->channelBans.at("lobby"), "Eve, bob, mo");
    forgetTraffic();
    join(eve, "eve", "lobby");
    EXPECT_EQ(received(eve), std::vector<Packet>{refused("You are banned from channel lobby.")});

    // The last staff member goes: the ban goes with her, and so does the channel's spelling.
    join(alice, "alice", "Main");
    EXPECT_EQ(server->channelBans.count("lobby"), 0u);
    forgetTraffic();
    join(eve, "eve", "LOBBY");
    EXPECT_EQ(received(eve), std::vector<Packet>{joined("LOBBY")});
}

TEST_F(ChannelJoinTest, AStaffRejoinAloneDropsTheBanButADisconnectDoesNot) {
    dir.write("admin.txt", "alice\r\n");
    int alice = logOn("alice");
    int bob = logOn("bob");
    server->channelBans["main"] = "bob";

    join(alice, "alice", "main");
    EXPECT_EQ(received(alice), std::vector<Packet>{joined("Main")});
    EXPECT_EQ(server->channelBans.count("main"), 0u);

    server->channelBans["side"] = "bob";
    join(alice, "alice", "Side");
    socket(alice).peerCloses();
    EXPECT_EQ(server->channelBans.at("side"), "bob");
    received(bob);
    join(bob, "bob", "side");
    EXPECT_EQ(received(bob), std::vector<Packet>{refused("You are banned from channel side.")});
}

TEST_F(ChannelJoinTest, BothChannelsHearOfTheMoveAndTheOperatorSeesIt) {
    int a = logOn("alice");
    int b = logOn("bob");
    int c = logOn("carol");
    int d = logOn("dave");
    closeSocket(*server, static_cast<ConnectionNumber>(d));  // still in Main, not connected

    join(a, "alice", "Lobby");
    EXPECT_EQ(received(a), std::vector<Packet>{joined("Lobby")});
    EXPECT_EQ(received(b), std::vector<Packet>{packet(12, {"alice"})});
    EXPECT_EQ(received(c), std::vector<Packet>{packet(12, {"alice"})});
    EXPECT_EQ(socket(d).takeSent(), "");
    EXPECT_EQ(chatLines(), std::vector<std::string>{"alice has joined the channel Lobby"});
    const ChatLine& line = lastLine();
    ASSERT_EQ(line.pieces.size(), 4u);
    EXPECT_EQ(line.pieces[1], (ChatPiece{colour::yellow, "alice"}));
    EXPECT_EQ(line.pieces[2], (ChatPiece{colour::white, " has joined the channel "}));
    EXPECT_EQ(line.pieces[3], (ChatPiece{colour::cyan, "Lobby"}));

    join(b, "bob", "lobby");
    EXPECT_EQ(received(b), std::vector<Packet>{joined("Lobby")});
    EXPECT_EQ(received(a), std::vector<Packet>{packet(15, {"bob"})});
    EXPECT_EQ(received(c), std::vector<Packet>{packet(12, {"bob"})});

    // Joining the channel one is in is a full move: out, then in again.
    join(b, "bob", "Lobby");
    EXPECT_EQ(received(b), std::vector<Packet>{joined("Lobby")});
    EXPECT_EQ(received(a), (std::vector<Packet>{packet(12, {"bob"}), packet(15, {"bob"})}));
    EXPECT_EQ(received(c), std::vector<Packet>{});
    EXPECT_EQ(socket(d).takeSent(), "");
}

TEST_F(ChannelJoinTest, TheAnnouncedNameIsThatOfTheLastRecordHoldingTheStatedName) {
    int a = logOn("alice");
    int b = logOn("bob");
    int c = logOn("carol");

    // Letter case counts here: nobody logged on as "Bob", so the notices carry an empty name.
    join(a, "Bob", "X");
    EXPECT_EQ(received(b), std::vector<Packet>{packet(12, {""})});
    EXPECT_EQ(received(c), std::vector<Packet>{packet(12, {""})});
    EXPECT_EQ(chatLines(), std::vector<std::string>{"Bob has joined the channel X"});
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::yellow, "Bob"}));
    EXPECT_EQ(received(a), std::vector<Packet>{joined("X")});

    join(a, "carol", "Main");
    EXPECT_EQ(received(b), std::vector<Packet>{packet(15, {"carol"})});
    EXPECT_EQ(received(c), std::vector<Packet>{packet(15, {"carol"})});

    server->users.find(static_cast<ConnectionNumber>(b))->originalName = "carol";
    join(a, "carol", "Y");
    EXPECT_EQ(received(b), std::vector<Packet>{packet(12, {"carol"})});
    EXPECT_EQ(received(c), std::vector<Packet>{packet(12, {"carol"})});
    server->users.find(static_cast<ConnectionNumber>(c))->listName = "carol-too";
    join(a, "carol", "Main");
    EXPECT_EQ(received(b), std::vector<Packet>{packet(15, {"carol-too"})});
}

TEST_F(ChannelJoinTest, JoinsWithAnotherFieldCountAreDropped) {
    int a = logOn("alice");
    deliver(a, frame(12, "Lobby"));
    deliver(a, frame(12, fields({"alice", "Lobby", "x"})));
    EXPECT_EQ(socket(a).takeSent(), "");
    EXPECT_EQ(channelOf(a), "Main");
    EXPECT_EQ(chatLines(), std::vector<std::string>{});
}

TEST_F(ChannelJoinTest, TheChannelUserListNamesEveryoneInTheAskersChannel) {
    dir.write("admin.txt", "alice\r\n");
    int bob = logOn("bob");
    int alice = logOn("alice");
    int carol = logOn("carol");
    connect();  // not logged on: no channel, no name

    deliver(carol, frame(9, "whatever"));
    EXPECT_EQ(received(carol), std::vector<Packet>{packet(9, {"bob, %alice, carol"})});

    join(bob, "bob", "Lobby");
    forgetTraffic();
    deliver(bob, frame(9, ""));
    EXPECT_EQ(received(bob), std::vector<Packet>{packet(9, {"bob"})});
    deliver(carol, frame(9, ""));
    EXPECT_EQ(received(carol), std::vector<Packet>{packet(9, {"%alice, carol"})});

    // Staff may enter the empty channel, where the connection not logged on is too: its empty
    // name is left out.
    join(alice, "alice", "");
    received(alice);
    deliver(alice, frame(9, ""));
    EXPECT_EQ(received(alice), std::vector<Packet>{packet(9, {"%alice"})});
}

class RestrictedChannelsTest : public ChannelJoinTest {
protected:
    void SetUp() override {
        dir.write("RestrictedChannels.txt", "Admin Lounge\r\nBackstage\r\n");
        dir.write("mods.txt", "mo\r\n");
        start();
    }
};

TEST_F(RestrictedChannelsTest, NormalUsersAreKeptOutAndStaffWalkIn) {
    EXPECT_EQ(server->restrictedChannels, (std::vector<std::string>{"Admin Lounge", "Backstage", ""}));
    int bob = logOn("bob");
    int mo = logOn("mo");

    join(bob, "bob", "admin LOUNGE");
    EXPECT_EQ(received(bob), std::vector<Packet>{refused(kRestricted)});
    join(bob, "bob", "");
    EXPECT_EQ(received(bob), std::vector<Packet>{refused(kRestricted)});
    EXPECT_EQ(channelOf(bob), "Main");
    EXPECT_EQ(received(mo), std::vector<Packet>{});

    join(mo, "mo", "BACKSTAGE");
    EXPECT_EQ(received(mo), std::vector<Packet>{joined("BACKSTAGE")});
    EXPECT_EQ(received(bob), std::vector<Packet>{packet(12, {"@mo"})});

    join(bob, "bob", "Lobby");
    EXPECT_EQ(received(bob), std::vector<Packet>{joined("Lobby")});
}

}  // namespace
}  // namespace murmur::test
