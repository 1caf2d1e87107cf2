// Keeping order in a channel: kick and ban into The Void, the channel ban list and its unban, and
// moving a user into any channel.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "staff/Console.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;
using Lines = std::vector<std::string>;

Packet notice(const std::string& text, const std::string& kind) { return packet(3, {text, kind}); }
Packet leftChannel(const std::string& listName) { return packet(12, {listName}); }
Packet joinedChannel(const std::string& listName) { return packet(15, {listName}); }
Packet joinResult(const std::string& channel) { return packet(13, {channel, "success"}); }

class ModerationTest : public ServerTest {
protected:
    void SetUp() override {
        start();
        dir.write("admin.txt", "alice\r\n");
        dir.write("mods.txt", "mo\r\n");
    }

    void type(int c, const std::string& name, const std::string& text) {
        deliver(c, frame(2, fields({name, text})));
    }
    void join(int c, const std::string& name, const std::string& channel) {
        deliver(c, frame(12, fields({name, channel})));
        forgetTraffic();
    }
    const std::string& channelOf(int c) { return server->users.find(static_cast<ConnectionNumber>(c))->channel; }
};

TEST_F(ModerationTest, AKickSendsTheUserIntoTheVoidAndTellsTheChannel) {
    int alice = logOn("alice");
    int bob = logOn("bob");
    int carol = logOn("carol");
    int dave = logOn("dave");
    int eve = logOn("eve");
    join(dave, "dave", "Lobby");
    join(eve, "eve", "The Void");
    host.events.clear();

    type(alice, "alice", "/kick bob spamming again");

    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::cyan, "bob was kicked out of the channel Main by alice."}));
    EXPECT_EQ(lastLine().pieces.size(), 2u);
    const Packet kicked = notice("bob has been kicked from the channel by alice (spamming again)", "1");
    EXPECT_EQ(received(alice), (Packets{kicked, leftChannel("bob")}));
    EXPECT_EQ(received(carol), (Packets{kicked, leftChannel("bob")}));
    EXPECT_EQ(received(bob), (Packets{kicked, joinResult("The Void")}));
    EXPECT_EQ(received(dave), Packets{});
    EXPECT_EQ(received(eve), Packets{});  // nobody in The Void hears of the arrival
    EXPECT_EQ(host.events, (std::vector<std::string>{"send 0", "send 1", "send 2", "yield", "send 1", "send 0",
                                                     "send 2"}));
    EXPECT_EQ(channelOf(bob), "The Void");
    EXPECT_EQ(server->lstUsers, (Lines{"%alice", "bob", "carol", "dave", "eve"}));
    EXPECT_TRUE(server->channelBans.empty());

    // Without a reason the message ends with a full stop; a second target word ends the reason.
    type(alice, "alice", "/kick carol");
    EXPECT_EQ(received(alice), (Packets{notice("carol has been kicked from the channel by alice.", "1"),
                                        leftChannel("carol")}));
    join(carol, "carol", "Main");
    type(alice, "alice", "/kick carol carol is rude");
    EXPECT_EQ(received(alice), (Packets{notice("carol has been kicked from the channel by alice ()", "1"),
                                        leftChannel("carol")}));
}

TEST_F(ModerationTest, KickAndBanRefusals) {
    int alice = logOn("alice");
    int mo = logOn("mo");
    int bob = logOn("bob");
    int dave = logOn("dave");
    connect("10.0.0.9");  // its logon name is the empty text
    join(dave, "dave", "Lobby");

    const std::vector<std::tuple<int, std::string, std::string>> refusals = {
        {alice, "/kick dave", "That user isn't present in the channel."},
        {alice, "/kick ALICE", "You can't kick yourself."},
        {alice, "/ban Alice now", "You can't ban yourself."},
        {alice, "/ban mo", "You cannot ban staff."},
        {alice, "/kick mo", "You cannot kick staff."},
        {mo, "/kick alice", "You cannot kick staff."},
        {mo, "/kick ghost", "That user is not logged on."},
        {alice, "/ban  bob", "That user is not logged on."},
        {mo, "/kick  bob", "That user is not logged on."},
    };
    for (const auto& [caller, text, refusal] : refusals) {
        type(caller, caller == alice ? "alice" : "mo", text);
        EXPECT_EQ(received(caller), Packets{notice(refusal, "0")}) << text;
        EXPECT_EQ(received(bob), Packets{}) << text;
    }
    EXPECT_EQ(channelOf(bob), "Main");
    EXPECT_EQ(channelOf(dave), "Lobby");
    EXPECT_EQ(channelOf(mo), "Main");
    EXPECT_TRUE(server->channelBans.empty());
    EXPECT_EQ(chatLines(), Lines{});
}

TEST_F(ModerationTest, ABanFromAnotherChannelListsTheUserButLeavesThemThere) {
    int alice = logOn("alice");
    int bob = logOn("bob");
    int dave = logOn("dave");
    int frank = logOn("frank");
    join(dave, "dave", "Lobby");
    join(frank, "frank", "Lobby");

    type(alice, "alice", "/ban dave flooding");
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::cyan, "dave was banned from the channel Lobby by alice."}));
    EXPECT_EQ(server->channelBans, (std::unordered_map<std::string, std::string>{{"main", "dave"}}));
    const Packet banned = notice("dave has been banned from the channel by alice (flooding)", "1");
    EXPECT_EQ(received(alice), Packets{banned});
    EXPECT_EQ(received(bob), Packets{banned});
    EXPECT_EQ(received(dave), Packets{});
    EXPECT_EQ(received(frank), Packets{});
    EXPECT_EQ(channelOf(dave), "Lobby");

    // The list keeps the name as logged on, and the join compares it without regard to case.
    deliver(dave, frame(12, fields({"dave", "MAIN"})));
    EXPECT_EQ(received(dave), Packets{notice("You are banned from channel Main.", "0")});

    type(alice, "alice", "/ban bob");
    EXPECT_EQ(server->channelBans.at("main"), "dave, bob");
    EXPECT_EQ(received(bob), (Packets{notice("bob has been banned from the channel by alice.", "1"), joinResult("The Void")}));
    EXPECT_EQ(received(alice), (Packets{notice("bob has been banned from the channel by alice.", "1"), leftChannel("bob")}));
    EXPECT_EQ(channelOf(bob), "The Void");
}

TEST_F(ModerationTest, UnbanTakesOneNameOffTheCallersChannelList) {
    int alice = logOn("alice");
    int bob = logOn("bob");
    int eve = logOn("Eve");
    int carol = logOn("carol");
    join(alice, "alice", "Lobby");
    join(bob, "bob", "Lobby");
    join(eve, "Eve", "Lobby");

    type(alice, "alice", "/ban eve");
    type(alice, "alice", "/ban EVE again");  // Eve is in The Void by now, and banned all the same
    EXPECT_EQ(server->channelBans.at("lobby"), "Eve, Eve");
    forgetTraffic();

    // Any rank may unban, in any letter case; the notice names the entry as stored.
    type(bob, "bob", "/unban eVE");
    const Packet unbanned = notice("Eve was unbanned from the channel by bob", "1");
    EXPECT_EQ(received(alice), Packets{unbanned});
    EXPECT_EQ(received(bob), Packets{unbanned});
    EXPECT_EQ(received(eve), Packets{});
    EXPECT_EQ(received(carol), Packets{});
    EXPECT_EQ(server->channelBans.at("lobby"), "Eve");

    type(bob, "bob", "/unban eve");
    EXPECT_EQ(received(bob), Packets{notice("Eve was unbanned from the channel by bob", "1")});
    ASSERT_EQ(server->channelBans.count("lobby"), 1u);
    EXPECT_EQ(server->channelBans.at("lobby"), "");

    type(bob, "bob", "/unban eve");
    type(carol, "carol", "/unban eve");  // Main has no list at all
    type(bob, "bob", "/unban ghost");
    type(bob, "bob", "/unban");
    EXPECT_EQ(received(bob), (Packets{notice("That user is not banned.", "0"), notice("That user is not online.", "0")}));
    EXPECT_EQ(received(carol), Packets{notice("That user is not banned.", "0")});

    socket(eve).peerCloses();
    forgetTraffic();
    type(alice, "alice", "/unban eve");
    EXPECT_EQ(received(alice), Packets{notice("That user is not online.", "0")});

    // The console stands in no channel; its answers go to the chat view in red.
    consoleEntry(*server, "/unban eve");
    consoleEntry(*server, "/unban bob");
    EXPECT_EQ(chatLines(), (Lines{"That user is not online.", "That user is not banned."}));
    EXPECT_EQ(lastLine().pieces[1].colour, colour::red);
}

TEST_F(ModerationTest, MoveTakesAnyChannelNameAndTellsEverybody) {
    int alice = logOn("alice");
    int bob = logOn("bob");
    int carol = logOn("carol");
    int dave = logOn("dave");
    int mo = logOn("mo");
    int stranger = connect("10.0.0.9");
    join(dave, "dave", "Lobby");
    server->restrictedChannels = {"Secret Room"};
    host.events.clear();

    type(alice, "alice", "/move bob Secret Room");
    EXPECT_EQ(received(bob), (Packets{notice("You were moved to the channel Secret Room by alice", "1"),
                                      joinResult("Secret Room")}));
    const Packet moved = notice("bob was moved to the channel Secret Room by alice", "1");
    EXPECT_EQ(received(alice), (Packets{moved, leftChannel("bob")}));
    EXPECT_EQ(received(carol), (Packets{moved, leftChannel("bob")}));
    EXPECT_EQ(received(dave), Packets{moved});
    EXPECT_EQ(received(stranger), Packets{moved});
    EXPECT_EQ(host.events, (std::vector<std::string>{"send 1", "send 0", "send 2", "send 3", "send 4", "send 5",
                                                     "send 1", "yield", "send 0", "send 2", "send 4"}));
    EXPECT_EQ(channelOf(bob), "Secret Room");
    forgetTraffic();

    // A name that a join would refuse as too long; and one that lands in the caller's own channel.
    const std::string longName = "A Channel Name Far Longer Than Fifteen";
    type(alice, "alice", "/move carol " + longName);
    EXPECT_EQ(received(carol), (Packets{notice("You were moved to the channel " + longName + " by alice", "1"),
                                        joinResult(longName)}));
    EXPECT_EQ(channelOf(carol), longName);
    forgetTraffic();

    type(alice, "alice", "/move dave main");
    EXPECT_EQ(received(dave), (Packets{notice("You were moved to the channel main by alice", "1"), joinResult("main")}));
    EXPECT_EQ(received(alice), (Packets{notice("dave was moved to the channel main by alice", "1"), joinedChannel("dave")}));
    EXPECT_EQ(received(mo), Packets{notice("dave was moved to the channel main by alice", "1")});
    EXPECT_EQ(channelOf(dave), "main");

    type(alice, "alice", "/move mo Lobby");
    EXPECT_EQ(received(alice), Packets{notice("The move command may not be used on staff.", "0")});
    type(alice, "alice", "/move ghost Lobby");
    EXPECT_EQ(received(alice), Packets{});
    EXPECT_EQ(channelOf(mo), "Main");
    EXPECT_EQ(received(mo), Packets{});
}

}  // namespace
}  // namespace murmur::test
