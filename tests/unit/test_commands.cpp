// The slash-command interpreter: how a command line is cut into words, who may run what, and the
// commands that need no other group: finger, channelphantom and broadcast.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "staff/Commands.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;

Packet notice(const std::string& text, const std::string& kind) { return packet(3, {text, kind}); }

class CommandTest : public ServerTest {
protected:
    void SetUp() override {
        dir.write("admin.txt", "alice\r\n");
        dir.write("mods.txt", "mo\r\n");
        start();
        logOn("alice", "1", "10.0.0.1");
        logOn("mo", "1", "10.0.0.2");
        logOn("bob", "1", "10.0.0.3");
        connect("10.0.0.9");  // not logged on: its logon name is the empty text
        forgetTraffic();
    }
    // The line typed into the chat; the caller is the connection's user, whatever name is stated.
    Packets type(int c, const std::string& text) {
        deliver(c, frame(2, fields({"someone", text})));
        return received(c);
    }
    void expectSilence() {
        for (int i = 0; i < socketCount(*server); ++i) EXPECT_EQ(received(i), Packets{}) << "connection " << i;
        EXPECT_EQ(chatLines(), std::vector<std::string>{});
    }
    static constexpr ConnectionNumber alice = 0, mo = 1, bob = 2, stranger = 3;
};

TEST_F(CommandTest, CallersWithoutTheRankAreRefusedOrIgnored) {
    const std::string kNoAuthority = "You do not have authority to use that command.";
    const std::vector<std::tuple<int, std::string, std::string>> cases = {
        {mo, "/broadcast hi", "You do not have the authority to use that command."},
        {mo, "/mute eve", "You are unable to mute users."}, {mo, "/unmute eve", "You are unable to unmute users."},
        {mo, "/makemod x", kNoAuthority}, {mo, "/makeadmin x", kNoAuthority}, {mo, "/move bob Lobby", kNoAuthority},
        {mo, "/channelphantom on", kNoAuthority}, {bob, "/kick mo", kNoAuthority}, {bob, "/ban mo rude", kNoAuthority},
        {alice, "/kick  bob", "That user is not logged on."},  // two spaces: the target word is empty
        // Nothing at all: no argument, other letter case, unknown word, or no rank for finger.
        {alice, "/broadcast    ", ""}, {alice, "/kick", ""}, {alice, "/Kick bob", ""}, {alice, "/BROADCAST hi", ""},
        {alice, "/frobnicate bob", ""}, {alice, "/finger carol", ""}, {bob, "/finger alice", ""},
        {mo, "/move bob", ""}};  // too few words is checked before the rank
    for (const auto& [caller, text, refusal] : cases) {
        EXPECT_EQ(type(caller, text), refusal.empty() ? Packets{} : Packets{notice(refusal, "0")}) << text;
        expectSilence();
    }
    socket(alice).close();  // the record stays behind the closed socket
    processCommand(*server, "alice", "/broadcast hi", false);
    expectSilence();
}

TEST_F(CommandTest, FingerChannelPhantomAndBroadcast) {
    clsUserData& other = *server->users.find(stranger);  // the same name in other letters
    other.originalName = other.listName = "Bob";
    other.IP = "10.9.9.9";
    EXPECT_EQ(type(mo, "/finger BOB"), (Packets{notice("bob is using an IP address of 10.0.0.3", "1"),
                                                notice("Bob is using an IP address of 10.9.9.9", "1")}));

    const Packet on = notice("You will now hear messages in every channel.", "1");
    const Packet off = notice("Channel messages are now restricted to your channel.", "1");
    for (const auto& [word, answer] : std::vector<std::pair<std::string, Packet>>{{"on", on}, {"On", off}, {"on", on}}) {
        EXPECT_EQ(type(alice, "/channelphantom " + word), Packets{answer}) << word;
        EXPECT_EQ(server->users.find(alice)->isChannelPhantom, answer == on);
    }

    socket(bob).close();
    const Packet all = notice("Broadcast from alice: Server  restarts soon ", "1");
    EXPECT_EQ(type(alice, "/broadcast Server  restarts soon "), Packets{all});  // all after the first space
    for (int c : {mo, bob, stranger}) EXPECT_EQ(received(c), c == bob ? Packets{} : Packets{all}) << c;
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "}, {colour::white, "Broadcast from "},
                                                         {colour::cyan, "alice"}, {colour::white, ": "},
                                                         {colour::blue, "Server  restarts soon "}}));
}

}  // namespace
}  // namespace murmur::test
