// Who hears a chat line or a whisper, what the operator sees of it, and which lines count towards
// the spam limit.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

const std::string kNoOneHears = "No one can hear you.";
const std::string kNotOnline = "That user is not online.";

class ChatRelayTest : public ServerTest {
protected:
    void SetUp() override {
        start();
        dir.write("admin.txt", "ad\r\n");
        dir.write("mods.txt", "mo\r\n");
    }

    void say(int c, const std::string& statedName, const std::string& text) {
        deliver(c, frame(2, fields({statedName, text})));
    }
    void whisper(int c, const std::vector<std::string>& parts) { deliver(c, frame(14, fields(parts))); }
    void moveTo(int c, const std::string& name, const std::string& channel) {
        deliver(c, frame(12, fields({name, channel})));
        forgetTraffic();
    }

    // Chat lines counted for the connection; 0 when it has no entry.
    int counted(int c) {
        const std::int16_t* count = server->spamCounts.find(static_cast<ConnectionNumber>(c));
        return count ? *count : 0;
    }
};

TEST_F(ChatRelayTest, LinesWithinTheLimitsAreRelayedAndEveryNonCommandLineCounts) {
    int a = logOn("alice");
    int b = logOn("bob");
    EXPECT_FALSE(timer(server->tmrHandleJunk).enabled());

    const std::string longest(200, 'x');
    say(a, "alice", longest);
    EXPECT_EQ(received(b), std::vector<Packet>{packet(2, {"alice", longest})});
    EXPECT_EQ(socket(a).takeSent(), "");
    EXPECT_EQ(counted(a), 1);
    EXPECT_TRUE(timer(server->tmrHandleJunk).enabled());
    EXPECT_EQ(chatLines(), std::vector<std::string>{"<alice (Channel: Main)> " + longest});

    say(a, "alice", longest + "x");
    say(a, "alice", "");
    say(a, "alice", "   ");
    EXPECT_EQ(received(b), std::vector<Packet>{});
    EXPECT_EQ(socket(a).takeSent(), "");
    EXPECT_EQ(chatLines(), std::vector<std::string>{});
    EXPECT_EQ(counted(a), 4);

    // A lone slash is nothing at all; a command goes to the interpreter and is not counted.
    say(a, "alice", "/");
    say(a, "alice", "/kick bob");
    EXPECT_EQ(received(b), std::vector<Packet>{});
    EXPECT_EQ(chatLines(), std::vector<std::string>{});
    EXPECT_EQ(counted(a), 4);

    say(a, "alice", "/E waves");
    EXPECT_EQ(received(b), std::vector<Packet>{packet(2, {"alice", "/E waves"})});
    EXPECT_EQ(chatLines(), std::vector<std::string>{"<alice (Channel: Main)> /E waves"});
    EXPECT_EQ(counted(a), 5);

    // A NUL inside the text makes three fields: dropped whole, not cut short.
    deliver(a, frame(2, fields({"alice", "hello", "there"})));
    deliver(a, frame(2, "alice"));
    EXPECT_EQ(received(b), std::vector<Packet>{});
    EXPECT_EQ(chatLines(), std::vector<std::string>{});
    EXPECT_EQ(counted(a), 5);

    server->settings.spamControl = "N";
    say(a, "alice", "hi");
    EXPECT_EQ(received(b), std::vector<Packet>{packet(2, {"alice", "hi"})});
    EXPECT_EQ(counted(a), 5);
}

TEST_F(ChatRelayTest, TheVoidSwallowsChatAndCommandsButLetsWhispersOut) {
    int a = logOn("alice");
    int b = logOn("bob");
    moveTo(a, "alice", "the void");
    moveTo(b, "bob", "The Void");

    say(a, "alice", "hello");
    say(a, "alice", "/kick bob");
    say(a, "alice", "");
    EXPECT_EQ(socket(a).takeSent(), "");
    EXPECT_EQ(socket(b).takeSent(), "");
    EXPECT_EQ(chatLines(), std::vector<std::string>{});
    EXPECT_EQ(counted(a), 0);

    whisper(a, {"alice", "bob", "let me out"});
    EXPECT_EQ(received(b), std::vector<Packet>{packet(14, {"alice", "let me out"})});
}

TEST_F(ChatRelayTest, AMutedSendersLinesReachOnlyStaffInAnyChannel) {
    int ad = logOn("ad");
    int mo = logOn("mo");
    int bob = logOn("bob");
    int zed = logOn("zed");
    moveTo(ad, "ad", "Backroom");
    server->globalFilter.insert("zed");

    say(zed, "ZED", "hello");
    EXPECT_EQ(received(ad), std::vector<Packet>{packet(2, {"(Muted) ZED", "hello"})});
    EXPECT_EQ(received(mo), std::vector<Packet>{packet(2, {"(Muted) ZED", "hello"})});
    EXPECT_EQ(received(bob), std::vector<Packet>{});
    EXPECT_EQ(received(zed), std::vector<Packet>{});
    EXPECT_EQ(chatLines(), std::vector<std::string>{});
    EXPECT_EQ(counted(zed), 0);

    // Nobody can hear a muted user alone either, but he is not told so.
    moveTo(zed, "zed", "Empty");
    say(zed, "zed", "/kick bob");
    EXPECT_EQ(received(ad), std::vector<Packet>{packet(2, {"(Muted) zed", "/kick bob"})});
    EXPECT_EQ(received(mo), std::vector<Packet>{packet(2, {"(Muted) zed", "/kick bob"})});
    EXPECT_EQ(received(zed), std::vector<Packet>{});

    // A muted moderator's copy carries no prefix, and does not come back to him.
    server->globalFilter.insert("mo");
    say(mo, "mo", "hi");
    EXPECT_EQ(received(ad), std::vector<Packet>{packet(2, {"(Muted) mo", "hi"})});
    EXPECT_EQ(received(mo), std::vector<Packet>{});
    EXPECT_EQ(received(bob), std::vector<Packet>{});
}

TEST_F(ChatRelayTest, StaffRankPutsItsPrefixBeforeTheStatedName) {
    int ad = logOn("ad");
    int mo = logOn("mo");
    int bob = logOn("bob");

    say(ad, "ad", "hi");
    EXPECT_EQ(received(bob), std::vector<Packet>{packet(2, {"%ad", "hi"})});
    EXPECT_EQ(received(mo), std::vector<Packet>{packet(2, {"%ad", "hi"})});
    EXPECT_EQ(received(ad), std::vector<Packet>{});
    EXPECT_EQ(chatLines(), std::vector<std::string>{"<%ad (Channel: Main)> hi"});

    say(mo, "Someone", "yo");
    EXPECT_EQ(received(bob), std::vector<Packet>{packet(2, {"@Someone", "yo"})});
    EXPECT_EQ(received(ad), std::vector<Packet>{packet(2, {"@Someone", "yo"})});
    EXPECT_EQ(chatLines(), std::vector<std::string>{"<@Someone (Channel: Main)> yo"});

    say(bob, "ad", "fooled you");
    EXPECT_EQ(received(ad), std::vector<Packet>{packet(2, {"ad", "fooled you"})});
}

TEST_F(ChatRelayTest, PhantomsHearEveryChannelWithItsNameInFront) {
    int ad = logOn("ad");
    int mo = logOn("mo");
    int bob = logOn("bob");
    int dan = logOn("dan");
    int eve = logOn("eve");
    moveTo(mo, "mo", "Lobby");
    moveTo(eve, "eve", "lobby");
    moveTo(dan, "dan", "Side");
    server->users.find(static_cast<ConnectionNumber>(mo))->isChannelPhantom = true;

    say(ad, "ad", "hello");
    EXPECT_EQ(received(bob), std::vector<Packet>{packet(2, {"%ad", "hello"})});
    EXPECT_EQ(received(mo), std::vector<Packet>{packet(2, {"(Main) %ad", "hello"})});
    EXPECT_EQ(received(dan), std::vector<Packet>{});
    EXPECT_EQ(received(eve), std::vector<Packet>{});

    say(eve, "eve", "psst");
    EXPECT_EQ(received(mo), std::vector<Packet>{packet(2, {"eve", "psst"})});
    EXPECT_EQ(received(ad), std::vector<Packet>{});
    chatLines();

    say(dan, "dan", "anyone?");
    EXPECT_EQ(received(dan), std::vector<Packet>{packet(3, {kNoOneHears, "1"})});
    EXPECT_EQ(received(mo), std::vector<Packet>{packet(2, {"(Side) dan", "anyone?"})});
    EXPECT_EQ(received(ad), std::vector<Packet>{});
    EXPECT_EQ(received(bob), std::vector<Packet>{});
    EXPECT_EQ(chatLines(), std::vector<std::string>{"<dan (Channel: Side)> anyone?"});
    EXPECT_EQ(counted(dan), 1);

    // A phantom whose socket has closed hears nothing.
    closeSocket(*server, static_cast<ConnectionNumber>(mo));
    say(dan, "dan", "still nobody?");
    EXPECT_EQ(received(dan), std::vector<Packet>{packet(3, {kNoOneHears, "1"})});
    EXPECT_EQ(socket(mo).takeSent(), "");
}

TEST_F(ChatRelayTest, TheOperatorSeesTheLineInItsColours) {
    int a = logOn("alice");
    int b = logOn("bob");
    moveTo(a, "alice", "Lobby");
    moveTo(b, "bob", "LOBBY");

    say(b, "bob", "hello there");
    EXPECT_EQ(received(a), std::vector<Packet>{packet(2, {"bob", "hello there"})});
    const ChatLine& line = lastLine();
    EXPECT_EQ(line.pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "},
                                                   {colour::yellow, "<bob (Channel: "},
                                                   {colour::cyan, "Lobby"},
                                                   {colour::yellow, ")> "},
                                                   {colour::white, "hello there"}}));
}

TEST_F(ChatRelayTest, AWhisperGoesToTheFirstConnectedHolderOfTheName) {
    int a = logOn("alice");
    int b = logOn("bob");
    int c = logOn("carol");
    server->users.find(static_cast<ConnectionNumber>(c))->originalName = "Bob";
    server->globalFilter.insert("alice");

    whisper(a, {"Santa", "BOB", "psst"});
    EXPECT_EQ(received(b), std::vector<Packet>{packet(14, {"Santa", "psst"})});
    EXPECT_EQ(received(c), std::vector<Packet>{});
    EXPECT_EQ(received(a), std::vector<Packet>{});
    EXPECT_EQ(chatLines(), std::vector<std::string>{"<From Santa to BOB> psst"});
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "},
                                                         {colour::white, "<From "},
                                                         {colour::yellow, "Santa"},
                                                         {colour::white, " to "},
                                                         {colour::yellow, "BOB"},
                                                         {colour::white, "> psst"}}));
    EXPECT_EQ(counted(a), 0);

    closeSocket(*server, static_cast<ConnectionNumber>(b));
    whisper(a, {"alice", "bob", ""});
    EXPECT_EQ(received(c), std::vector<Packet>{packet(14, {"alice", ""})});

    closeSocket(*server, static_cast<ConnectionNumber>(c));
    whisper(a, {"alice", "bob", "hello?"});
    whisper(a, {"alice", "nobody", "hello?"});
    EXPECT_EQ(received(a), (std::vector<Packet>{packet(3, {kNotOnline, "0"}), packet(3, {kNotOnline, "0"})}));
    chatLines();

    int d = logOn("dave");
    whisper(a, {"alice", "dave"});
    whisper(a, {"alice", "dave", "one", "two"});
    EXPECT_EQ(socket(d).takeSent(), "");
    EXPECT_EQ(received(a), std::vector<Packet>{});
    EXPECT_EQ(chatLines(), std::vector<std::string>{});
}

}  // namespace
}  // namespace murmur::test
