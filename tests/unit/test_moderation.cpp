// Keeping order in a channel: kick and ban into The Void, the channel ban list and its unban, and
// moving a user into any channel.
#include <gtest/gtest.h>

#include "staff/Console.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;

Packet notice(const std::string& text, const std::string& kind = "1") { return packet(3, {text, kind}); }
Packet joinResult(const std::string& channel) { return packet(13, {channel, "success"}); }

class ModerationTest : public ServerTest {
protected:
    void SetUp() override {
        dir.write("admin.txt", "alice\r\n");
        dir.write("mods.txt", "mo\r\n");
        start();
        for (const char* name : {"alice", "mo", "bob", "carol", "dave"}) logOn(name);
        deliver(dave, frame(12, fields({"dave", "Lobby"})));
        forgetTraffic();
        host.events.clear();
    }
    // The line typed into the chat; what the caller got for it.
    Packets type(int c, const std::string& text) {
        received(c);
        deliver(c, frame(2, fields({"someone", text})));
        return received(c);
    }
    const std::string& channelOf(int c) { return server->users.find(static_cast<ConnectionNumber>(c))->channel; }
    static constexpr int alice = 0, mo = 1, bob = 2, carol = 3, dave = 4;
};

TEST_F(ModerationTest, AKickSendsTheUserIntoTheVoidAndTellsTheChannel) {
    const Packet kicked = notice("bob has been kicked from the channel by alice (spamming again)");
    EXPECT_EQ(type(alice, "/kick bob spamming again"), (Packets{kicked, packet(12, {"bob"})}));
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::cyan, "bob was kicked out of the channel Main by alice."}));
    EXPECT_EQ(received(bob), (Packets{kicked, joinResult("The Void")}));
    EXPECT_EQ(received(dave), Packets{});
    EXPECT_EQ(host.events, (std::vector<std::string>{"send 0", "send 1", "send 2", "send 3", "yield", "send 2",
                                                     "send 0", "send 1", "send 3"}));
    EXPECT_TRUE(server->channelBans.empty());
    // Without a reason the notice ends in a full stop; the target word again ends the reason.
    EXPECT_EQ(type(alice, "/kick carol")[0], notice("carol has been kicked from the channel by alice."));
    EXPECT_EQ(received(bob), Packets{});  // nobody in The Void hears of the arrival
    deliver(carol, frame(12, fields({"carol", "Main"})));
    EXPECT_EQ(type(alice, "/kick carol carol is rude")[0], notice("carol has been kicked from the channel by alice ()"));
}

TEST_F(ModerationTest, KickAndBanRefusals) {
    const std::vector<std::tuple<int, std::string, std::string>> refusals = {
        {alice, "/kick dave", "That user isn't present in the channel."}, {alice, "/kick ALICE", "You can't kick yourself."},
        {alice, "/ban Alice now", "You can't ban yourself."}, {alice, "/ban mo", "You cannot ban staff."},
        {mo, "/kick alice", "You cannot kick staff."}, {mo, "/kick ghost", "That user is not logged on."}};
    for (const auto& [caller, text, refusal] : refusals)
        EXPECT_EQ(type(caller, text), Packets{notice(refusal, "0")}) << text;
    EXPECT_EQ(channelOf(dave), "Lobby");
    EXPECT_TRUE(server->channelBans.empty());
}

TEST_F(ModerationTest, ABanListsTheUserForTheCallersChannelAndAnyoneThereMayUnban) {
    type(alice, "/ban dave flooding");  // from another channel: listed, but left where he is
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::cyan, "dave was banned from the channel Lobby by alice."}));
    EXPECT_EQ(received(bob), Packets{notice("dave has been banned from the channel by alice (flooding)")});
    deliver(dave, frame(12, fields({"dave", "MAIN"})));
    EXPECT_EQ(received(dave), Packets{notice("You are banned from channel Main.", "0")});
    EXPECT_EQ(type(alice, "/ban bob"), (Packets{notice("bob has been banned from the channel by alice."), packet(12, {"bob"})}));
    EXPECT_EQ(server->channelBans, (std::unordered_map<std::string, std::string>{{"main", "dave, bob"}}));

    const Packet unbanned = notice("bob was unbanned from the channel by carol");
    EXPECT_EQ(type(carol, "/unban BOB"), Packets{unbanned});
    EXPECT_EQ(received(alice), Packets{unbanned});
    EXPECT_EQ(type(carol, "/unban bob"), Packets{notice("That user is not banned.", "0")});
    EXPECT_EQ(type(carol, "/unban ghost"), Packets{notice("That user is not online.", "0")});
    type(carol, "/unban DAVE");
    EXPECT_EQ(server->channelBans.at("main"), "");
    consoleEntry(*server, "/unban bob");  // the console stands in no channel
    EXPECT_EQ(chatLines().back(), "That user is not banned.");
    EXPECT_EQ(lastLine().pieces[1].colour, colour::red);
}

TEST_F(ModerationTest, MoveTakesAnyChannelNameAndTellsEverybody) {
    int stranger = connect("10.0.0.9");
    server->restrictedChannels = {"Secret Room"};
    const Packet moved = notice("bob was moved to the channel Secret Room by alice");
    EXPECT_EQ(type(alice, "/move bob Secret Room"), (Packets{moved, packet(12, {"bob"})}));
    EXPECT_EQ(received(bob), (Packets{notice("You were moved to the channel Secret Room by alice"), joinResult("Secret Room")}));
    EXPECT_EQ(received(dave), Packets{moved});
    EXPECT_EQ(received(stranger), Packets{moved});
    EXPECT_EQ(type(alice, "/move dave main"), (Packets{notice("dave was moved to the channel main by alice"),
                                                       packet(15, {"dave"})}));  // into the caller's channel
    EXPECT_EQ(received(dave).back(), joinResult("main"));
    EXPECT_EQ(type(alice, "/move mo Lobby"), Packets{notice("The move command may not be used on staff.", "0")});
    EXPECT_EQ(type(alice, "/move ghost Lobby"), Packets{});
}

}  // namespace
}  // namespace murmur::test
