// Kicks and bans from the whole server: who matches the name pattern, what everybody is told, and
// what is left of the removed users afterwards.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "staff/Console.h"
#include "staff/Pattern.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;
using Lines = std::vector<std::string>;
using Events = std::vector<std::string>;

Packet notice(const std::string& text) { return packet(3, {text, "1"}); }
Packet loggedOff(const std::string& listName) { return packet(4, {listName}); }

class ServerRemoveTest : public ServerTest {
protected:
    void SetUp() override {
        start();
        dir.write("admin.txt", "alice\r\n");
        dir.write("mods.txt", "mo\r\n");
    }

    void type(int c, const std::string& name, const std::string& text) {
        deliver(c, frame(2, fields({name, text})));
    }
    bool hasRecord(int c) { return server->users.contains(static_cast<ConnectionNumber>(c)); }
    std::vector<ChatPiece> lastPieces() {
        const auto& pieces = lastLine().pieces;
        return {pieces.begin() + 1, pieces.end()};
    }
};

TEST_F(ServerRemoveTest, AnAdministratorKicksAUserOffTheServer) {
    int alice = logOn("alice");
    int bob = logOn("bob");
    int carol = logOn("carol");
    host.events.clear();

    type(alice, "alice", "/kick bob --server");

    EXPECT_EQ(chatLines(), Lines{"bob was kicked from Murmur by alice."});
    EXPECT_EQ(lastPieces(), (std::vector<ChatPiece>{{colour::yellow, "bob was "},
                                                    {colour::white, "kicked"},
                                                    {colour::yellow, " from Murmur by alice."}}));
    const Packet kicked = notice("bob was kicked off of Murmur by alice.");
    EXPECT_EQ(received(alice), (Packets{kicked, loggedOff("bob")}));
    EXPECT_EQ(received(carol), (Packets{kicked, loggedOff("bob")}));
    EXPECT_EQ(received(bob), Packets{kicked});
    // The notice reaches bob before his socket closes; the leave notice follows the yield.
    EXPECT_EQ(host.events, (Events{"send 0", "send 1", "send 2", "close 1", "yield", "send 0", "send 2"}));

    EXPECT_EQ(socket(bob).state(), sckClosed);
    EXPECT_EQ(socketCount(*server), 3);  // bob's socket is not the highest, so it stays loaded
    EXPECT_FALSE(hasRecord(bob));
    EXPECT_EQ(server->lstUsers, (Lines{"%alice", "carol"}));
    EXPECT_EQ(server->lblUsers, "Total Users: 2");
    EXPECT_FALSE(dir.exists("banned.txt"));
}

TEST_F(ServerRemoveTest, AServerBanWritesTheTypedWordAndGivesTheReason) {
    int alice = logOn("alice");
    int bob = logOn("bob");
    int carol = logOn("carol");

    type(alice, "alice", "/ban Bob --server spam  and eggs");

    EXPECT_EQ(dir.read("banned.txt"), "Bob\r\n");
    // The messages name the list entry; the reason is the rest of the words, single-spaced.
    EXPECT_EQ(chatLines(), Lines{"bob was banned from Murmur by alice (spam and eggs)"});
    EXPECT_EQ(lastPieces(), (std::vector<ChatPiece>{{colour::yellow, "bob was "},
                                                    {colour::white, "banned"},
                                                    {colour::yellow, " from Murmur by alice (spam and eggs)"}}));
    const Packet banned = notice("bob was banned off of Murmur by alice (spam and eggs)");
    EXPECT_EQ(received(bob), Packets{banned});
    EXPECT_EQ(received(carol), (Packets{banned, loggedOff("bob")}));
    EXPECT_FALSE(hasRecord(bob));

    // Nobody matches: no message, no ban line, but the leave notice still goes out, empty.
    type(alice, "alice", "/ban zed --server");
    EXPECT_EQ(chatLines(), Lines{});
    EXPECT_EQ(dir.read("banned.txt"), "Bob\r\n");
    EXPECT_EQ(received(alice), (Packets{banned, loggedOff("bob"), loggedOff("")}));
    EXPECT_EQ(received(carol), Packets{loggedOff("")});
}

TEST_F(ServerRemoveTest, APatternRemovesEveryMatchInTableOrderWithOneLeaveNotice) {
    int alice = logOn("alice");
    int bob = logOn("bob");
    int carol = logOn("carol");
    int bea = logOn("Bea");
    ASSERT_EQ(bea, 3);
    host.events.clear();

    type(alice, "alice", "/ban B* --server");

    EXPECT_EQ(chatLines(), (Lines{"bob was banned from Murmur by alice.", "Bea was banned from Murmur by alice."}));
    EXPECT_EQ(received(alice), (Packets{notice("bob was banned off of Murmur by alice."),
                                        notice("Bea was banned off of Murmur by alice."), loggedOff("Bea")}));
    EXPECT_EQ(received(carol), (Packets{notice("bob was banned off of Murmur by alice."),
                                        notice("Bea was banned off of Murmur by alice."), loggedOff("Bea")}));
    EXPECT_EQ(received(bob), Packets{notice("bob was banned off of Murmur by alice.")});
    EXPECT_EQ(host.events, (Events{"send 0", "send 1", "send 2", "send 3", "close 1", "send 0", "send 2", "send 3",
                                   "close 3", "yield", "send 0", "send 2"}));
    // One ban line per removed user; the highest socket is unloaded, the one below stays.
    EXPECT_EQ(dir.read("banned.txt"), "B*\r\nB*\r\n");
    EXPECT_EQ(socketCount(*server), 3);
    EXPECT_EQ(socket(bob).state(), sckClosed);
    EXPECT_EQ(server->users.keys(), (std::vector<ConnectionNumber>{0, 2}));
    EXPECT_EQ(server->lstUsers, (Lines{"%alice", "carol"}));
    EXPECT_EQ(server->lblUsers, "Total Users: 2");
}

TEST_F(ServerRemoveTest, EachRemovalTakesTheFirstMatchingListEntryForItsMessages) {
    int alice = logOn("alice");
    logOn("bob");
    logOn("mo");  // a moderator's logon puts "@mo" before "bob" in the list
    ASSERT_EQ(server->lstUsers, (Lines{"%alice", "@mo", "bob"}));

    type(alice, "alice", "/kick ?o* --server");
    EXPECT_EQ(chatLines(), (Lines{"mo was kicked from Murmur by alice.", "bob was kicked from Murmur by alice."}));
    EXPECT_EQ(received(alice), (Packets{notice("mo was kicked off of Murmur by alice."),
                                        notice("bob was kicked off of Murmur by alice."), loggedOff("bob")}));
    EXPECT_EQ(server->lstUsers, Lines{"%alice"});
}

TEST_F(ServerRemoveTest, AModeratorsServerWordIsOnlyTheStartOfAReason) {
    int mo = logOn("mo");
    int bob = logOn("bob");

    type(mo, "mo", "/kick bob --server");
    const Packet channelKick = notice("bob has been kicked from the channel by mo (--server)");
    EXPECT_EQ(received(mo), (Packets{channelKick, packet(12, {"bob"})}));
    EXPECT_EQ(received(bob), (Packets{channelKick, packet(13, {"The Void", "success"})}));
    EXPECT_TRUE(hasRecord(bob));
    EXPECT_EQ(server->lstUsers, (Lines{"@mo", "bob"}));
}

TEST_F(ServerRemoveTest, ConsoleKicksAndBansAlwaysActServerWide) {
    int alice = logOn("alice");
    int bob = logOn("bob");
    int carol = logOn("carol");

    consoleEntry(*server, "/kick bob");
    EXPECT_EQ(chatLines(), Lines{"bob was kicked from Murmur by Server Console."});
    EXPECT_EQ(received(alice), (Packets{notice("bob was kicked off of Murmur by Server Console."), loggedOff("bob")}));
    EXPECT_FALSE(hasRecord(bob));

    // At the console "--server" is just another word of the reason.
    consoleEntry(*server, "/kick carol --server");
    EXPECT_EQ(chatLines(), Lines{"carol was kicked from Murmur by Server Console (--server)"});
    EXPECT_EQ(received(alice),
              (Packets{notice("carol was kicked off of Murmur by Server Console (--server)"), loggedOff("carol")}));
    EXPECT_FALSE(hasRecord(carol));

    // Staff and the console's own kind are not protected.
    consoleEntry(*server, "/ban ALICE being away");
    EXPECT_EQ(chatLines(), Lines{"alice was banned from Murmur by Server Console (being away)"});
    EXPECT_EQ(received(alice), Packets{notice("alice was banned off of Murmur by Server Console (being away)")});
    EXPECT_EQ(dir.read("banned.txt"), "ALICE\r\n");
    EXPECT_EQ(server->users.count(), 0u);
    EXPECT_EQ(server->lblUsers, "Total Users: 0");
}

TEST_F(ServerRemoveTest, AnEmptyTargetDoesNothingAtAll) {
    logOn("alice");
    connect("10.0.0.9");  // a connection whose logon name is the empty text
    forgetTraffic();
    host.events.clear();

    consoleEntry(*server, "/kick  alice");
    consoleEntry(*server, "/ban  alice");
    EXPECT_EQ(host.events, Events{});
    EXPECT_EQ(chatLines(), Lines{});
    EXPECT_EQ(server->users.count(), 2u);
    EXPECT_FALSE(dir.exists("banned.txt"));
}

TEST_F(ServerRemoveTest, SocketZeroIsNeverUnloadedAndTheHighestAlwaysIs) {
    logOn("bob");
    logOn("carol");
    logOn("dave");
    ASSERT_EQ(socketCount(*server), 3);

    consoleEntry(*server, "/kick bob");
    EXPECT_EQ(socket(0).state(), sckClosed);
    EXPECT_EQ(socketCount(*server), 3);
    consoleEntry(*server, "/kick dave");
    EXPECT_EQ(socketCount(*server), 2);
    consoleEntry(*server, "/kick carol");  // now the highest
    EXPECT_EQ(socketCount(*server), 1);
    EXPECT_EQ(server->users.count(), 0u);

    EXPECT_EQ(connect("10.0.0.7"), 0);
    EXPECT_EQ(socketCount(*server), 1);
}

TEST(NamePattern, MatchesTheWholeNameWithItsWildcards) {
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    };
    const Case cases[] = {
        {"bob", "bob", true},      {"bobby", "bob", false},  {"bo", "bob", false},     {"abob", "bob", false},
        {"bob", "b?b", true},      {"bb", "b?b", false},     {"boob", "b?b", false},   {"b", "b*", true},
        {"bob", "b*", true},       {"abob", "b*", false},    {"", "*", true},          {"bob", "*o*", true},
        {"bob", "*x*", false},     {"bob", "b*b", true},     {"bo", "b*b", false},     {"ab", "*?", true},
        {"", "*?", false},         {"user7", "user#", true}, {"userx", "user#", false}, {"user77", "user#", false},
        {"bob", "[abc]ob", true},  {"dob", "[abc]ob", false}, {"m1", "[a-z]#", true},  {"M1", "[a-z]#", false},
        {"-1", "[a-z]#", false},   {"1x", "[!a-z]x", true},  {"ax", "[!a-z]x", false}, {"y", "[a-cx-z]", true},
        {"d", "[a-cx-z]", false},  {"-", "[a-]", true},      {"a.b", "a.b", true},     {"axb", "a.b", false},
        {"a[b", "a[b", true},      {"ab", "a[b", false},     {"ab", "a[]b", true},     {"axb", "a[]b", false},
        {"b*", "b[*]", true},      {"bo", "b[*]", false},    {"a?", "a[?]", true},     {"ab", "a[?]", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchesPattern(c.name, c.pattern), c.matches) << "\"" << c.name << "\" against \"" << c.pattern << "\"";
}

}  // namespace
}  // namespace murmur::test
