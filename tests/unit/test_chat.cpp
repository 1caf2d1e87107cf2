// What logged-on clients say and ask. Moving between channels: the fixed names, the length limit,
// the spelling a channel keeps while it has users, channel bans and restricted channels. Who hears
// a chat line or a whisper, what the operator sees of it, and which lines count towards the spam
// limit. Questions about users, the Tic-Tac-Toe relay and the turns of the queue sharers.
#include <gtest/gtest.h>

#include "core/Branding.h"
#include "core/Connections.h"
#include "core/Membership.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;
using Traffic = std::vector<std::pair<int, Packets>>;
using Lines = std::vector<std::string>;

Packet joined(const std::string& channel) { return packet(13, {channel, "success"}); }
Packet refused(const std::string& text) { return packet(3, {text, "0"}); }

class ChatTest : public ServerTest {
protected:
    void SetUp() override {
        writeStaff("admin.txt", {"alice"});
        writeStaff("mods.txt", {"mo"});
        dir.write("RestrictedChannels.txt", "Backstage\r\n");
        start();
    }
    // What the joiner got for this join alone.
    Packets join(int c, const std::string& statedName, const std::string& channel) {
        received(c);
        deliver(c, frame(12, fields({statedName, channel})));
        return received(c);
    }
    void moveTo(int c, const std::string& channel) {
        join(c, server->users.find(static_cast<ConnectionNumber>(c))->originalName, channel);
        forgetTraffic();
    }
    void say(int c, const std::string& name, const std::string& text) { deliver(c, frame(2, fields({name, text}))); }
    int counted(int c) {
        const std::int16_t* count = server->spamCounts.find(static_cast<ConnectionNumber>(c));
        return count ? *count : 0;
    }
    void query(int c, const std::vector<std::string>& parts) { deliver(c, frame(8, fields(parts))); }
    // Every connection that was sent something since the last look, with what it got.
    Traffic traffic() {
        Traffic out;
        for (int i = 0; i < socketCount(*server); ++i)
            if (Packets got = received(i); !got.empty()) out.emplace_back(i, got);
        return out;
    }
};

TEST_F(ChatTest, ChannelNamesAreCheckedAndKeepTheFirstSpellingWhileTheChannelHasUsers) {
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

// However its last member leaves (a join elsewhere, a move, a close), a channel leaves no trace, so
// that no client can fill the server with channels it opened and left.
TEST_F(ChatTest, AChannelIsForgottenWhenItsLastMemberLeavesByAnyPath) {
    int bob = logOn("bob"), carol = logOn("carol");
    moveTo(bob, "Chat");
    moveTo(carol, "CHAT");
    EXPECT_EQ(server->users.find(static_cast<ConnectionNumber>(carol))->channel, "Chat");
    moveTo(bob, "Other");
    host.runHandler([&] { server->consoleHandler("/move carol Elsewhere"); });
    socket(bob).peerCloses();
    EXPECT_TRUE(server->channelNames.empty());
    EXPECT_EQ(server->channelMembers, (std::unordered_map<std::string, std::vector<ConnectionNumber>>{{"elsewhere", {1}}}));
    socket(carol).peerCloses();
    EXPECT_TRUE(server->channelMembers.empty());
}

TEST_F(ChatTest, ChannelBansKeepNormalUsersOutWhileSomeStaffMemberStays) {
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

// The joiner is who the server knows it to be: a join stating another name is not its to make.
TEST_F(ChatTest, AJoinIsTheSendersOwnAndAJoinStatingAnotherNameChangesNothing) {
    int bob = logOn("bob"), carol = logOn("carol"), mo = logOn("mo");
    join(bob, "bob", "Lobby");
    join(carol, "carol", "lobby");
    EXPECT_EQ(received(bob), Packets{packet(15, {"carol"})});
    EXPECT_EQ(received(mo), (Packets{packet(12, {"bob"}), packet(12, {"carol"})}));
    EXPECT_EQ(join(carol, "carol", "Lobby"), Packets{joined("Lobby")});  // out and in again
    EXPECT_EQ(received(bob), (Packets{packet(12, {"carol"}), packet(15, {"carol"})}));
    chatLines();

    server->channelBans["side"] = "carol";
    for (const char* stated : {"mo", "@mo", "bob", "", "carol "})
        EXPECT_EQ(join(carol, stated, "Side"), Packets{}) << stated;
    EXPECT_EQ(traffic(), Traffic{});
    EXPECT_EQ(chatLines(), Lines{});
    EXPECT_EQ(server->users.find(static_cast<ConnectionNumber>(carol))->channel, "Lobby");
    // Its own name in other letters is still its own: the ban holds, and the others hear the list name.
    EXPECT_EQ(join(carol, "CAROL", "side"), Packets{refused("You are banned from channel side.")});
    EXPECT_EQ(join(mo, "MO", "Lobby"), Packets{joined("Lobby")});
    EXPECT_EQ(traffic(), (Traffic{{bob, {packet(15, {"@mo"})}}, {carol, {packet(15, {"@mo"})}}}));
    EXPECT_EQ(chatLines(), Lines{"mo has joined the channel Lobby"});
}

TEST_F(ChatTest, LinesWithinTheLimitsAreRelayedAndEveryNonCommandLineCounts) {
    int a = logOn("amy"), b = logOn("bob");
    struct Case { std::string text; bool relayed; int counted; };
    for (const Case& c : std::vector<Case>{{std::string(200, 'x'), true, 1}, {std::string(201, 'x'), false, 2},
                                           {"", false, 3}, {"   ", false, 4}, {"/", false, 4},
                                           {"/kick bob", false, 4}, {"/E waves", true, 5}}) {
        say(a, "amy", c.text);
        EXPECT_EQ(received(b), c.relayed ? Packets{packet(2, {"amy", c.text})} : Packets{}) << c.text;
        EXPECT_EQ(chatLines(), c.relayed ? std::vector<std::string>{"<amy (Channel: Main)> " + c.text}
                                         : std::vector<std::string>{}) << c.text;
        EXPECT_EQ(counted(a), c.counted) << c.text;
    }
    deliver(a, frame(2, fields({"amy", "hello", "there"})));  // a NUL in the text: dropped whole
    server->settings.spamControl = "N";
    say(a, "amy", "hi");
    EXPECT_EQ(received(b), Packets{packet(2, {"amy", "hi"})});
    EXPECT_EQ(counted(a), 5);

    moveTo(a, "the void");  // it swallows chat and commands but lets whispers out
    moveTo(b, "The Void");
    say(a, "amy", "/kick bob");
    deliver(a, frame(14, fields({"amy", "bob", "let me out"})));
    EXPECT_EQ(socket(a).takeSent(), "");
    EXPECT_EQ(received(b), Packets{packet(14, {"amy", "let me out"})});
}

TEST_F(ChatTest, RanksPrefixTheSendersNamePhantomsHearEveryChannelAndStaffHearTheMuted) {
    int alice = logOn("alice"), mo = logOn("mo"), bob = logOn("bob"), dan = logOn("dan");
    say(alice, "alice", "hi");
    say(mo, "Someone", "yo");  // a line stating another name is dropped, uncounted
    say(bob, "%alice", "I am the admin");
    say(bob, "alice", "fooled you");
    say(mo, "MO", "yo");
    EXPECT_EQ(received(dan), (Packets{packet(2, {"%alice", "hi"}), packet(2, {"@mo", "yo"})}));
    EXPECT_EQ(chatLines(), (Lines{"<%alice (Channel: Main)> hi", "<@mo (Channel: Main)> yo"}));
    EXPECT_EQ(received(bob), (Packets{packet(2, {"%alice", "hi"}), packet(2, {"@mo", "yo"})}));
    EXPECT_EQ(std::make_pair(counted(bob), counted(mo)), std::make_pair(0, 1));

    moveTo(mo, "Lobby");
    moveTo(dan, "Side");
    setChannelPhantom(*server, static_cast<ConnectionNumber>(mo), *server->users.find(static_cast<ConnectionNumber>(mo)), true);
    say(alice, "alice", "hello");
    say(dan, "dan", "anyone?");
    EXPECT_EQ(received(mo), (Packets{packet(2, {"(Main) %alice", "hello"}), packet(2, {"(Side) dan", "anyone?"})}));
    EXPECT_EQ(received(dan), Packets{packet(3, {"No one can hear you.", "1"})});
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "}, {colour::yellow, "<dan (Channel: "},
                                                         {colour::cyan, "Side"}, {colour::yellow, ")> "},
                                                         {colour::white, "anyone?"}}));

    // Muted and alone: only staff in any channel hear it, and it is neither refused nor run; under
    // another name it is not heard at all.
    server->globalFilter.insert("dan");
    say(dan, "DAN", "/kick bob");
    say(dan, "bob", "unmuted?");
    EXPECT_EQ(received(alice), Packets{packet(2, {"(Muted) dan", "/kick bob"})});
    EXPECT_EQ(received(mo), Packets{packet(2, {"(Muted) dan", "/kick bob"})});
    EXPECT_EQ(received(bob), (Packets{packet(2, {"%alice", "hello"})}));
    EXPECT_EQ(counted(dan), 1);
}

TEST_F(ChatTest, AWhisperGoesToTheFirstConnectedHolderOfTheName) {
    int a = logOn("alice"), b = logOn("bob"), c = logOn("carol");
    nameRecord(*server, static_cast<ConnectionNumber>(c), *server->users.find(static_cast<ConnectionNumber>(c)), "Bob");
    server->globalFilter.insert("alice");
    auto whisper = [&](const std::vector<std::string>& parts) { deliver(a, frame(14, fields(parts))); };
    for (const char* stated : {"Santa", "bob", "%alice", ""}) whisper({stated, "BOB", "psst"});
    EXPECT_EQ(traffic(), Traffic{});  // another name: nobody hears of it
    EXPECT_EQ(chatLines(), Lines{});
    whisper({"ALICE", "BOB", "psst"});
    EXPECT_EQ(received(b), Packets{packet(14, {"alice", "psst"})});
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "}, {colour::white, "<From "},
                                                         {colour::yellow, "alice"}, {colour::white, " to "},
                                                         {colour::yellow, "BOB"}, {colour::white, "> psst"}}));

    closeKeepingRecord(b);
    whisper({"alice", "bob", ""});
    whisper({"alice", "nobody", "hi"});
    whisper({"alice", "Bob"});  // a whisper without its text is dropped
    EXPECT_EQ(received(c), Packets{packet(14, {"alice", ""})});
    EXPECT_EQ(received(a), Packets{refused("That user is not online.")});
}

TEST_F(ChatTest, UserQuestionsAreAnsweredFromTheRecordsAndTheList) {
    int a = connect();
    host.ticks += 42;
    deliver(a, frame(1, fields({"alice", staffPassword, "9"})));
    int b = logOn("bob");
    connect();
    deliver(a, frame(12, fields({"alice", "LOBBY"})));
    enterChannel(*server, static_cast<ConnectionNumber>(b), *server->users.find(static_cast<ConnectionNumber>(b)), "lobby");
    server->lstUsers = {"%Alice", "@bob", "Ca@r%ol", "carol"};
    forgetTraffic();
    for (const std::string& name : {std::string("ALICE"), fields({"alice", "x"}), std::string(), std::string("bob")})
        deliver(b, frame(7, name));  // the whole payload is the name
    for (const char* name : {"CAROL", "BOB", "@bob"}) deliver(b, frame(16, name));
    deliver(b, frame(17, "ignored"));
    deliver(b, frame(18, "ignored"));
    EXPECT_EQ(received(b), (Packets{packet(7, {"alice", "42|Quill Client by Quade|LOBBY"}),
                                    refused("Request error: user not found."), packet(7, {"", "0||"}),
                                    packet(7, {"bob", "0|Murmur Client|lobby"}),
                                    packet(16, {"Carol"}), packet(16, {"bob"}), packet(16, {"%NULL%"}),
                                    packet(17, {"3", "2", "%alice, bob, "}), packet(18, {"%alice, bob, "})}));
}

TEST_F(ChatTest, GameQueriesReachEveryHolderOfTheTargetNameAndUnreadableOnesEndTheAsker) {
    int a = logOn("alice"), b = logOn("bob"), c = logOn("carol");
    const std::vector<std::pair<std::vector<std::string>, Packet>> cases = {
        {{"BOARD Move", "bob", "cell 7"}, packet(8, {"board move", "alice", "7"})},
        {{"board move", "BOB", "r1c2"}, packet(8, {"board move", "alice", "12"})},
        {{"board move", "bob", "32767"}, packet(8, {"board move", "alice", "32767"})},
        {{"Start Prepare", "bob", "O"}, packet(8, {"Start Prepare", "alice", "X"})},
        {{"start prepare", "bob", "o"}, packet(8, {"start prepare", "alice", "O"})},
        {{"Invite Me", "bob"}, packet(8, {"Invite Me", "alice"})},
        {{"resign", "\x12" "b\x12ob", "x"}, packet(8, {"resign", "alice"})}};
    for (const auto& [parts, answer] : cases) {
        query(a, parts);
        EXPECT_EQ(traffic(), (Traffic{{b, {answer}}})) << testing::PrintToString(parts);
    }
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::green, "Tic-Tac-Toe Query: resign from alice to bob len: 3"}));

    nameRecord(*server, static_cast<ConnectionNumber>(c), *server->users.find(static_cast<ConnectionNumber>(c)), "BOB");
    query(c, {"resign", "bob"});
    EXPECT_EQ(traffic(), (Traffic{{b, {packet(8, {"resign", "BOB"})}}, {c, {packet(8, {"resign", "BOB"})}}}));
    query(a, {"board move", "zed"});  // nobody holds it: no answer, and no argument needed
    EXPECT_EQ(traffic(), Traffic{});
    EXPECT_EQ(lastLine().pieces[1].text, "Tic-Tac-Toe Query: board move from alice to zed len: 3");

    // A query that cannot be read ends the asker's connection, and nobody else hears of it.
    for (const std::vector<std::string>& parts : std::vector<std::vector<std::string>>{
             {"resign"}, {"Board Move", "bob"}, {"start prepare", "bob"}, {"board move", "bob", "32768"}}) {
        int asker = logOn("zed");
        query(asker, parts);
        EXPECT_EQ(lastLine().pieces[1].text, "A poorly developed client has attempted to connect and was refused.");
        EXPECT_EQ(socket(asker).takeSent(), refusal("Your client is not compatible with this server.") +
                                                refusal(std::string("See ") + branding::clientPageAddress +
                                                        " for the latest client."));
        EXPECT_EQ(traffic(), Traffic{});
    }
}

TEST_F(ChatTest, QueueSharersTakeTurnsInConnectionOrderWhoeverSends) {
    int i = 0;
    for (const char* code : {"1", "8", "1", " 8 ", "1", "8"}) logOn("user" + std::to_string(i++), code);
    auto turnAfter = [&](int sender) {
        const std::string work("job\0x\0", 6);  // passed on whole, NULs and all
        deliver(sender, frame(19, work));
        Traffic got = traffic();
        return got.size() == 1 && got[0].second == Packets{packet(19, {work})} ? got[0].first : -1;
    };
    std::vector<int> turns;
    for (int sender : {1, 1, 5, 3, 3, 0, 1, 1}) turns.push_back(turnAfter(sender));  // 0 shares no queue
    socket(1).peerCloses();  // its place in the round still counts towards the round's end
    forgetTraffic();
    for (int sender : {3, 3}) turns.push_back(turnAfter(sender));
    closeKeepingRecord(5);  // the record stays, and with it a turn that cannot be taken
    for (int sender : {3, 3}) turns.push_back(turnAfter(sender));
    EXPECT_EQ(turns, (std::vector<int>{1, 3, 5, 1, 3, -1, 5, 1, 3, 3, -1, -1}));
}

}  // namespace
}  // namespace murmur::test
