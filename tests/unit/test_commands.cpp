// The slash-command interpreter: how a command line is cut into words, who may run what, and the
// commands that need no other group: finger, channelphantom and broadcast.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "staff/Commands.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;
using Lines = std::vector<std::string>;

const std::string kNoAuthority = "You do not have authority to use that command.";

Packet notice(const std::string& text, const std::string& kind) { return packet(3, {text, kind}); }

class CommandTest : public ServerTest {
protected:
    void SetUp() override {
        start();
        dir.write("admin.txt", "alice\r\n");
        dir.write("mods.txt", "mo\r\n");
        alice = logOn("alice", "1", "10.0.0.1");
        mo = logOn("mo", "1", "10.0.0.2");
        bob = logOn("bob", "1", "10.0.0.3");
    }

    // The user types the line into the chat.
    void type(int c, const std::string& name, const std::string& text) {
        deliver(c, frame(2, fields({name, text})));
    }
    const clsUserData& record(int c) { return *server->users.find(static_cast<ConnectionNumber>(c)); }

    // Nothing reached any socket and the operator saw nothing.
    void expectSilence() {
        for (int i = 0; i < socketCount(*server); ++i) EXPECT_EQ(received(i), Packets{}) << "connection " << i;
        EXPECT_EQ(chatLines(), Lines{});
    }

    int alice = -1, mo = -1, bob = -1;
};

TEST_F(CommandTest, WordsCountAndCommandWordsAreMatchedExactly) {
    int stranger = connect("10.0.0.9");  // not logged on: its logon name is the empty text
    forgetTraffic();

    // Two spaces make an empty target word, and an empty word names nobody.
    type(alice, "alice", "/kick  bob");
    EXPECT_EQ(received(alice), Packets{notice("That user is not logged on.", "0")});
    EXPECT_EQ(record(bob).channel, "Main");
    expectSilence();

    // Trimming leaves the bare command word: no argument, no answer.
    type(alice, "alice", "/broadcast");
    type(alice, "alice", "/broadcast    ");
    type(alice, "alice", "/kick");
    type(mo, "mo", "/move bob");  // too few arguments is checked before the rank
    // Command words keep their letter case; unknown words are ignored.
    type(alice, "alice", "/Kick bob");
    type(alice, "alice", "/BROADCAST hi");
    type(alice, "alice", "/frobnicate bob");
    type(bob, "bob", "/finger alice");  // normal users are not even refused
    expectSilence();
    EXPECT_EQ(record(bob).channel, "Main");
    EXPECT_TRUE(record(bob).hasLoggedIn);
    EXPECT_EQ(received(stranger), Packets{});
}

TEST_F(CommandTest, CallersWithoutTheRankGetTheRefusalOfTheirCommand) {
    const std::vector<std::pair<std::string, std::string>> moderatorRefusals = {
        {"/broadcast hi", "You do not have the authority to use that command."},
        {"/mute eve", "You are unable to mute users."},
        {"/unmute eve", "You are unable to unmute users."},
        {"/makemod x", kNoAuthority},
        {"/makeadmin x", kNoAuthority},
        {"/move bob Lobby", kNoAuthority},
        {"/channelphantom on", kNoAuthority},
    };
    for (const auto& [text, refusal] : moderatorRefusals) {
        type(mo, "mo", text);
        EXPECT_EQ(received(mo), Packets{notice(refusal, "0")}) << text;
        EXPECT_EQ(received(bob), Packets{}) << text;
    }
    type(bob, "bob", "/kick mo");
    type(bob, "bob", "/ban mo rude");
    EXPECT_EQ(received(bob), (Packets{notice(kNoAuthority, "0"), notice(kNoAuthority, "0")}));
    EXPECT_EQ(record(mo).channel, "Main");
    EXPECT_FALSE(record(mo).isChannelPhantom);
    EXPECT_EQ(socket(mo).state(), sckConnected);
    expectSilence();
}

TEST_F(CommandTest, AClosedOrUnknownCallerIsIgnored) {
    host.events.clear();
    socket(alice).close();  // the record stays behind the closed socket
    processCommand(*server, "alice", "/broadcast hi", false);
    processCommand(*server, "nobody", "/broadcast hi", false);
    expectSilence();
    EXPECT_EQ(host.events, std::vector<std::string>{"close 0"});
}

TEST_F(CommandTest, FingerAnswersStaffWithEveryMatchingRecord) {
    // A record left behind under another connection number with the same name, in other letters.
    clsUserData leftOver;
    leftOver.originalName = "Bob";
    leftOver.listName = "Bob";
    leftOver.IP = "10.9.9.9";
    server->users.put(40, leftOver);

    type(mo, "mo", "/finger BOB");
    EXPECT_EQ(received(mo), (Packets{notice("bob is using an IP address of 10.0.0.3", "1"),
                                     notice("Bob is using an IP address of 10.9.9.9", "1")}));
    type(alice, "alice", "/finger mo");
    EXPECT_EQ(received(alice), Packets{notice("@mo is using an IP address of 10.0.0.2", "1")});
    type(alice, "alice", "/finger carol");
    type(bob, "bob", "/finger bob");
    expectSilence();
}

TEST_F(CommandTest, ChannelPhantomIsOnOnlyForTheExactWordOn) {
    const Packet on = notice("You will now hear messages in every channel.", "1");
    const Packet off = notice("Channel messages are now restricted to your channel.", "1");

    type(alice, "alice", "/channelphantom on");
    EXPECT_TRUE(record(alice).isChannelPhantom);
    EXPECT_EQ(received(alice), Packets{on});

    type(alice, "alice", "/channelphantom On");
    EXPECT_FALSE(record(alice).isChannelPhantom);
    EXPECT_EQ(received(alice), Packets{off});

    type(alice, "alice", "/channelphantom on");
    type(alice, "alice", "/channelphantom yes");
    EXPECT_FALSE(record(alice).isChannelPhantom);
    EXPECT_EQ(received(alice), (Packets{on, off}));
    expectSilence();
}

TEST_F(CommandTest, BroadcastReachesEveryConnectedClientAndTheOperator) {
    int stranger = connect("10.0.0.9");
    forgetTraffic();

    // The message is everything after the first space, its spaces kept.
    type(alice, "alice", "/broadcast Server  restarts soon ");
    const Packet expected = notice("Broadcast from alice: Server  restarts soon ", "1");
    for (int c : {alice, mo, bob, stranger}) EXPECT_EQ(received(c), Packets{expected}) << "connection " << c;
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "},
                                                         {colour::white, "Broadcast from "},
                                                         {colour::cyan, "alice"},
                                                         {colour::white, ": "},
                                                         {colour::blue, "Server  restarts soon "}}));
    EXPECT_EQ(chatLines(), Lines{"Broadcast from alice: Server  restarts soon "});

    // Closed sockets are passed over.
    socket(bob).close();
    type(alice, "alice", "/broadcast again");
    EXPECT_EQ(received(mo), Packets{notice("Broadcast from alice: again", "1")});
    EXPECT_EQ(received(bob), Packets{});
}

}  // namespace
}  // namespace murmur::test
