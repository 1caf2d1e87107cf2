// Who hears a chat line or a whisper, what the operator sees of it, and which lines count towards
// the spam limit.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;

class ChatRelayTest : public ServerTest {
protected:
    void SetUp() override {
        dir.write("admin.txt", "ad\r\n");
        dir.write("mods.txt", "mo\r\n");
        start();
    }
    void say(int c, const std::string& name, const std::string& text) { deliver(c, frame(2, fields({name, text}))); }
    void moveTo(int c, const std::string& channel) {
        deliver(c, frame(12, fields({"", channel})));
        forgetTraffic();
    }
    int counted(int c) {
        const std::int16_t* count = server->spamCounts.find(static_cast<ConnectionNumber>(c));
        return count ? *count : 0;
    }
};

TEST_F(ChatRelayTest, LinesWithinTheLimitsAreRelayedAndEveryNonCommandLineCounts) {
    int a = logOn("alice"), b = logOn("bob");
    struct Case { std::string text; bool relayed; int counted; };
    for (const Case& c : std::vector<Case>{{std::string(200, 'x'), true, 1}, {std::string(201, 'x'), false, 2},
                                           {"", false, 3}, {"   ", false, 4}, {"/", false, 4},
                                           {"/kick bob", false, 4}, {"/E waves", true, 5}}) {
        say(a, "alice", c.text);
        EXPECT_EQ(received(b), c.relayed ? Packets{packet(2, {"alice", c.text})} : Packets{}) << c.text;
        EXPECT_EQ(chatLines(), c.relayed ? std::vector<std::string>{"<alice (Channel: Main)> " + c.text}
                                         : std::vector<std::string>{}) << c.text;
        EXPECT_EQ(counted(a), c.counted) << c.text;
    }
    deliver(a, frame(2, fields({"alice", "hello", "there"})));  // a NUL in the text: dropped whole
    server->settings.spamControl = "N";
    say(a, "alice", "hi");
    EXPECT_EQ(received(b), Packets{packet(2, {"alice", "hi"})});
    EXPECT_EQ(counted(a), 5);

    moveTo(a, "the void");  // it swallows chat and commands but lets whispers out
    moveTo(b, "The Void");
    say(a, "alice", "/kick bob");
    deliver(a, frame(14, fields({"alice", "bob", "let me out"})));
    EXPECT_EQ(socket(a).takeSent(), "");
    EXPECT_EQ(received(b), Packets{packet(14, {"alice", "let me out"})});
}

TEST_F(ChatRelayTest, RanksPrefixTheStatedNamePhantomsHearEveryChannelAndStaffHearTheMuted) {
    int ad = logOn("ad"), mo = logOn("mo"), bob = logOn("bob"), dan = logOn("dan");
    say(ad, "ad", "hi");
    say(mo, "Someone", "yo");
    say(bob, "ad", "fooled you");
    EXPECT_EQ(received(dan), (Packets{packet(2, {"%ad", "hi"}), packet(2, {"@Someone", "yo"}),
                                      packet(2, {"ad", "fooled you"})}));

    moveTo(mo, "Lobby");
    moveTo(dan, "Side");
    server->users.find(static_cast<ConnectionNumber>(mo))->isChannelPhantom = true;
    say(ad, "ad", "hello");
    say(dan, "dan", "anyone?");
    EXPECT_EQ(received(mo), (Packets{packet(2, {"(Main) %ad", "hello"}), packet(2, {"(Side) dan", "anyone?"})}));
    EXPECT_EQ(received(dan), Packets{packet(3, {"No one can hear you.", "1"})});
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "}, {colour::yellow, "<dan (Channel: "},
                                                         {colour::cyan, "Side"}, {colour::yellow, ")> "},
                                                         {colour::white, "anyone?"}}));

    // Muted and alone: only staff in any channel hear it, and it is neither refused nor run.
    server->globalFilter.insert("dan");
    say(dan, "DAN", "/kick bob");
    EXPECT_EQ(received(ad), Packets{packet(2, {"(Muted) DAN", "/kick bob"})});
    EXPECT_EQ(received(mo), Packets{packet(2, {"(Muted) DAN", "/kick bob"})});
    EXPECT_EQ(received(bob), (Packets{packet(2, {"%ad", "hello"})}));
    EXPECT_EQ(counted(dan), 1);
}

TEST_F(ChatRelayTest, AWhisperGoesToTheFirstConnectedHolderOfTheName) {
    int a = logOn("alice"), b = logOn("bob"), c = logOn("carol");
    server->users.find(static_cast<ConnectionNumber>(c))->originalName = "Bob";
    server->globalFilter.insert("alice");
    auto whisper = [&](const std::vector<std::string>& parts) { deliver(a, frame(14, fields(parts))); };
    whisper({"Santa", "BOB", "psst"});
    EXPECT_EQ(received(b), Packets{packet(14, {"Santa", "psst"})});
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "}, {colour::white, "<From "},
                                                         {colour::yellow, "Santa"}, {colour::white, " to "},
                                                         {colour::yellow, "BOB"}, {colour::white, "> psst"}}));

    closeKeepingRecord(b);
    whisper({"alice", "bob", ""});
    whisper({"alice", "nobody", "hi"});
    whisper({"alice", "Bob"});  // a whisper without its text is dropped
    EXPECT_EQ(received(c), Packets{packet(14, {"alice", ""})});
    EXPECT_EQ(received(a), Packets{packet(3, {"That user is not online.", "0"})});
}

}  // namespace
}  // namespace murmur::test
