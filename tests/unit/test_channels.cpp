// Moving between channels: the fixed names, the length limit, the spelling a channel keeps while
// it has users, channel bans and restricted channels, and what the others in both channels hear.
#include <gtest/gtest.h>

#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;

Packet joined(const std::string& channel) { return packet(13, {channel, "success"}); }
Packet refused(const std::string& text) { return packet(3, {text, "0"}); }

class ChannelTest : public ServerTest {
protected:
    void SetUp() override {
        dir.write("admin.txt", "alice\r\n");
        dir.write("mods.txt", "mo\r\n");
        dir.write("RestrictedChannels.txt", "Backstage\r\n");
        start();
    }
    // What the joiner got for this join alone.
    Packets join(int c, const std::string& statedName, const std::string& channel) {
        received(c);
        deliver(c, frame(12, fields({statedName, channel})));
        return received(c);
    }
};

TEST_F(ChannelTest, NamesAreCheckedAndKeepTheFirstSpellingWhileTheChannelHasUsers) {
    int bob = logOn("bob"), carol = logOn("carol");
    const std::vector<std::pair<std::string, Packet>> cases = {
        {"the VOID", joined("The Void")}, {"MAIN", joined("Main")}, {"Fifteen-Chars15", joined("Fifteen-Chars15")},
        {"Fifteen-Chars15X", refused("The channel name is too long.")},
        {"", refused("That channel is restricted.")}, {"backSTAGE", refused("That channel is restricted.")}};
    for (const auto& [channel, answer] : cases) EXPECT_EQ(join(bob, "bob", channel), Packets{answer}) << channel;
    EXPECT_EQ(received(carol), (Packets{packet(12, {"bob"}), packet(15, {"bob"}), packet(12, {"bob"})}));
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "}, {colour::yellow, "bob"},
                                                         {colour::white, " has joined the channel "},
                                                         {colour::cyan, "Fifteen-Chars15"}}));
    EXPECT_EQ(join(carol, "carol", "FIFTEEN-chars15"), Packets{joined("Fifteen-Chars15")});
    join(bob, "bob", "Main");
    join(carol, "carol", "Main");
    EXPECT_EQ(join(bob, "bob", "FIFTEEN-CHARS15"), Packets{joined("FIFTEEN-CHARS15")});
}

TEST_F(ChannelTest, ChannelBansKeepNormalUsersOutWhileSomeStaffMemberStays) {
    int eve = logOn("eve"), alice = logOn("alice"), mo = logOn("mo");
    server->channelBans["lobby"] = "Eve, mo";
    EXPECT_EQ(join(eve, "eve", "LOBBY"), Packets{refused("You are banned from channel LOBBY.")});
    EXPECT_EQ(join(mo, "mo", "Lobby"), Packets{joined("Lobby")});
    EXPECT_EQ(received(alice), Packets{packet(12, {"@mo"})});
    join(alice, "alice", "lobby");
    deliver(mo, frame(9, "whatever"));  // the user list of the asker's channel
    EXPECT_EQ(received(mo).back(), packet(9, {"%alice, @mo"}));
    EXPECT_EQ(join(mo, "mo", "backstage"), Packets{joined("backstage")});
    socket(alice).peerCloses();  // the last staff member leaves without a join: the ban stays
    EXPECT_EQ(join(eve, "eve", "lobby"), Packets{refused("You are banned from channel lobby.")});
    join(mo, "mo", "Lobby");
    join(mo, "mo", "Lobby");  // leaving it with no other staff there takes the ban along
    EXPECT_EQ(join(eve, "eve", "lobby"), Packets{joined("Lobby")});
}

TEST_F(ChannelTest, BothChannelsHearTheListNameOfTheLastHolderOfTheStatedName) {
    int bob = logOn("bob"), carol = logOn("carol"), dave = logOn("dave"), other = logOn("other");
    join(bob, "bob", "Lobby");
    join(carol, "carol", "lobby");
    EXPECT_EQ(received(bob), Packets{packet(15, {"carol"})});
    EXPECT_EQ(received(dave), (Packets{packet(12, {"bob"}), packet(12, {"carol"})}));
    EXPECT_EQ(join(carol, "carol", "Lobby"), Packets{joined("Lobby")});  // out and in again
    EXPECT_EQ(received(bob), (Packets{packet(12, {"carol"}), packet(15, {"carol"})}));

    join(bob, "Dave", "X");  // letter case counts: nobody holds the name
    EXPECT_EQ(received(carol), Packets{packet(12, {""})});
    server->users.find(static_cast<ConnectionNumber>(other))->originalName = "dave";
    join(bob, "dave", "Lobby");
    EXPECT_EQ(received(carol), Packets{packet(15, {"other"})});
}

}  // namespace
}  // namespace murmur::test
