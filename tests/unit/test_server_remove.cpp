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

Packet notice(const std::string& text) { return packet(3, {text, "1"}); }

class ServerRemoveTest : public ServerTest {
protected:
    void SetUp() override {
        dir.write("admin.txt", "alice\r\n");
        dir.write("mods.txt", "mo\r\n");
        start();
        logOn("alice");
    }
    void type(int c, const std::string& text) { deliver(c, frame(2, fields({"someone", text}))); }
    static constexpr int alice = 0;
};

TEST_F(ServerRemoveTest, AnAdministratorsServerKickTellsEverybodyAndAModeratorsIsAReason) {
    int bob = logOn("bob"), carol = logOn("carol"), mo = logOn("mo");
    host.events.clear();
    type(alice, "/kick bob --server");
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "}, {colour::yellow, "bob was "},
                                                         {colour::white, "kicked"}, {colour::yellow, " from Murmur by alice."}}));
    const Packet kicked = notice("bob was kicked off of Murmur by alice.");
    EXPECT_EQ(received(bob), Packets{kicked});
    EXPECT_EQ(received(carol), (Packets{kicked, packet(4, {"bob"})}));
    // The notice reaches bob before his socket closes; the leave notice follows the yield.
    EXPECT_EQ(host.events, (Lines{"send 0", "send 1", "send 2", "send 3", "close 1", "yield", "send 0", "send 2",
                                  "send 3"}));
    EXPECT_EQ(socketCount(*server), 4);  // not the highest: it stays loaded
    EXPECT_EQ(server->lstUsers, (Lines{"%alice", "@mo", "carol"}));
    EXPECT_FALSE(dir.exists("banned.txt"));

    type(mo, "/kick carol --server");
    EXPECT_EQ(received(carol), (Packets{notice("carol has been kicked from the channel by mo (--server)"),
                                        packet(13, {"The Void", "success"})}));
}

TEST_F(ServerRemoveTest, APatternBansEveryMatchInTableOrderEachUnderTheFirstMatchingListEntry) {
    logOn("bob");
    logOn("mo");  // the list puts "@mo" before "bob"
    type(alice, "/ban ?O* --server spam  and eggs");
    EXPECT_EQ(chatLines(), (Lines{"mo was banned from Murmur by alice (spam and eggs)",
                                  "bob was banned from Murmur by alice (spam and eggs)"}));
    EXPECT_EQ(received(alice), (Packets{notice("mo was banned off of Murmur by alice (spam and eggs)"),
                                        notice("bob was banned off of Murmur by alice (spam and eggs)"),
                                        packet(4, {"bob"})}));
    EXPECT_EQ(dir.read("banned.txt"), "?O*\r\n?O*\r\n");
    EXPECT_EQ(socketCount(*server), 2);
    EXPECT_EQ(server->lstUsers, Lines{"%alice"});
    EXPECT_EQ(server->lblUsers, "Total Users: 1");

    type(alice, "/ban zed --server");  // nobody matches: only the leave notice goes out, empty
    EXPECT_EQ(received(alice), Packets{packet(4, {""})});
    EXPECT_EQ(dir.read("banned.txt"), "?O*\r\n?O*\r\n");
}

TEST_F(ServerRemoveTest, TheConsoleAlwaysActsServerWideAndSparesNoRank) {
    logOn("bob");
    logOn("carol");
    host.events.clear();
    consoleEntry(*server, "/kick  alice");  // an empty target does nothing at all
    EXPECT_EQ(host.events, Lines{});
    consoleEntry(*server, "/kick carol --server");
    EXPECT_EQ(socketCount(*server), 2);
    consoleEntry(*server, "/kick bob");
    EXPECT_EQ(socketCount(*server), 1);
    consoleEntry(*server, "/ban ALICE being away");
    EXPECT_EQ(socketCount(*server), 1);  // socket 0 is never unloaded
    EXPECT_EQ(chatLines(), (Lines{"carol was kicked from Murmur by Server Console (--server)",
                                  "bob was kicked from Murmur by Server Console.",
                                  "alice was banned from Murmur by Server Console (being away)"}));
    EXPECT_EQ(dir.read("banned.txt"), "ALICE\r\n");
    EXPECT_EQ(server->users.count(), 0u);
}

TEST(NamePattern, MatchesTheWholeNameWithItsWildcards) {
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"bob", "bob", true},      {"bobby", "bob", false},    {"abob", "bob", false},     {"bob", "b?b", true},
        {"boob", "b?b", false},    {"abob", "b*", false},      {"", "*", true},            {"bob", "b*b", true},
        {"bo", "b*b", false},      {"ab", "*?", true},         {"", "*?", false},          {"user7", "user#", true},
        {"userx", "user#", false}, {"user77", "user#", false}, {"dob", "[abc]ob", false},  {"m1", "[a-z]#", true},
        {"M1", "[a-z]#", false},   {"1x", "[!a-z]x", true},    {"ax", "[!a-z]x", false},   {"y", "[a-cx-z]", true},
        {"d", "[a-cx-z]", false},  {"-", "[a-]", true},        {"axb", "a.b", false},      {"a[b", "a[b", true},
        {"ab", "a[]b", true},      {"b*", "b[*]", true},       {"bo", "b[*]", false},      {"ab", "a[?]", false}};
    for (const auto& [name, pattern, matches] : cases)
        EXPECT_EQ(matchesPattern(name, pattern), matches) << "\"" << name << "\" against \"" << pattern << "\"";
}

}  // namespace
}  // namespace murmur::test
