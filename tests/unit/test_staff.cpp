// Staff at work: how a command line is cut into words and who may run what; finger, channelphantom
// and broadcast; kick, ban, unban and move within a channel; the global filter and promotions;
// kicks and bans from the whole server; and the operator's console, which answers in the chat view.
#include <gtest/gtest.h>

#include <cstdio>

#include "core/Connections.h"
#include "core/Membership.h"
#include "staff/Commands.h"
#include "staff/Console.h"
#include "staff/Pattern.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;
using Lines = std::vector<std::string>;
using Filter = std::unordered_set<std::string>;

Packet notice(const std::string& text, const std::string& kind = "1") { return packet(3, {text, kind}); }
Packet joinResult(const std::string& channel) { return packet(13, {channel, "success"}); }

class StaffTest : public ServerTest {
protected:
    void SetUp() override {
        writeStaff("admin.txt", {"alice"});
        writeStaff("mods.txt", {"mo"});
        start();
    }
    // The names log on in turn from 10.0.0.1 upwards and the one numbered inLobby joins Lobby; then,
    // unless told not to, a client connects from 10.0.0.9 and stays logged out, so its logon name
    // is the empty text. What that caused is forgotten.
    void cast(const Lines& names, bool stranger = true, int inLobby = -1) {
        for (std::size_t i = 0; i < names.size(); ++i) logOn(names[i], "1", "10.0.0." + std::to_string(i + 1));
        if (inLobby >= 0) deliver(inLobby, frame(12, fields({names.at(static_cast<std::size_t>(inLobby)), "Lobby"})));
        if (stranger) connect("10.0.0.9");
        forgetTraffic();
        host.events.clear();
    }
    // The line typed into the chat by the connection's user.
    void say(int c, const std::string& text) {
        deliver(c, frame(2, fields({server->users.find(static_cast<ConnectionNumber>(c))->originalName, text})));
    }
    // What the caller got for the line alone.
    Packets type(int c, const std::string& text) {
        received(c);
        say(c, text);
        return received(c);
    }
    void expectEveryone(const Packets& packets) {
        for (int c = 0; c < socketCount(*server); ++c) EXPECT_EQ(received(c), packets) << "connection " << c;
    }
    void expectSilence() {
        expectEveryone({});
        EXPECT_EQ(chatLines(), Lines{});
    }
};

TEST_F(StaffTest, CallersWithoutTheRankOrAFitTargetAreRefusedOrIgnored) {
    enum { alice, mo, bob, dave };
    cast({"alice", "mo", "bob", "dave"}, true, dave);
    const std::string kNoAuthority = "You do not have authority to use that command.";
    const std::vector<std::tuple<int, std::string, std::string>> cases = {
        {mo, "/broadcast hi", "You do not have the authority to use that command."},
        {mo, "/mute eve", "You are unable to mute users."}, {mo, "/unmute eve", "You are unable to unmute users."},
        {mo, "/makemod x", kNoAuthority}, {mo, "/makeadmin x", kNoAuthority}, {mo, "/move bob Lobby", kNoAuthority},
        {mo, "/channelphantom on", kNoAuthority}, {bob, "/kick mo", kNoAuthority}, {bob, "/ban mo rude", kNoAuthority},
        {alice, "/kick  bob", "That user is not logged on."},  // two spaces: the target word is empty
        {alice, "/kick dave", "That user isn't present in the channel."}, {alice, "/kick ALICE", "You can't kick yourself."},
        {alice, "/ban Alice now", "You can't ban yourself."}, {alice, "/ban mo", "You cannot ban staff."},
        {mo, "/kick alice", "You cannot kick staff."}, {mo, "/kick ghost", "That user is not logged on."},
        // Nothing at all: no argument, other letter case, unknown word, or no rank for finger.
        {alice, "/broadcast    ", ""}, {alice, "/kick", ""}, {alice, "/Kick bob", ""}, {alice, "/BROADCAST hi", ""},
        {alice, "/frobnicate bob", ""}, {alice, "/finger carol", ""}, {bob, "/finger alice", ""},
        {alice, "/users", ""}, {alice, "/stats", ""}, {alice, "/help", ""},  // the console's own words
        {mo, "/move bob", ""}};  // too few words is checked before the rank
    for (const auto& [caller, text, refusal] : cases) {
        EXPECT_EQ(type(caller, text), refusal.empty() ? Packets{} : Packets{notice(refusal, "0")}) << text;
        expectSilence();
    }
    EXPECT_TRUE(server->channelBans.empty());
    socket(alice).close();  // the record stays behind the closed socket
    processCommand(*server, "alice", "/broadcast hi", false);
    expectSilence();
}

TEST_F(StaffTest, FingerChannelPhantomAndBroadcast) {
    enum { alice, mo, bob, stranger };
    cast({"alice", "mo", "bob"});
    clsUserData& other = *server->users.find(stranger);  // the same name in other letters
    nameRecord(*server, stranger, other, "Bob");
    other.listName = "Bob";
    other.IP = "10.9.9.9";
    EXPECT_EQ(type(mo, "/finger BOB"), (Packets{notice("bob is using an IP address of 10.0.0.3"),
                                                notice("Bob is using an IP address of 10.9.9.9")}));

    const Packet on = notice("You will now hear messages in every channel.");
    const Packet off = notice("Channel messages are now restricted to your channel.");
    for (const auto& [word, answer] : std::vector<std::pair<std::string, Packet>>{{"on", on}, {"On", off}, {"on", on}}) {
        EXPECT_EQ(type(alice, "/channelphantom " + word), Packets{answer}) << word;
        EXPECT_EQ(server->users.find(alice)->isChannelPhantom, answer == on);
    }

    socket(bob).close();
    const Packet all = notice("Broadcast from alice: Server  restarts soon ");
    EXPECT_EQ(type(alice, "/broadcast Server  restarts soon "), Packets{all});  // all after the first space
    for (int c : {mo, bob, stranger}) EXPECT_EQ(received(c), c == bob ? Packets{} : Packets{all}) << c;
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "}, {colour::white, "Broadcast from "},
                                                         {colour::cyan, "alice"}, {colour::white, ": "},
                                                         {colour::blue, "Server  restarts soon "}}));
}

TEST_F(StaffTest, AKickSendsTheUserIntoTheVoidAndTellsTheChannel) {
    enum { alice, mo, bob, carol, dave };
    cast({"alice", "mo", "bob", "carol", "dave"}, false, dave);
    const Packet kicked = notice("bob has been kicked from the channel by alice (spamming again)");
    EXPECT_EQ(type(alice, "/kick bob spamming again"), (Packets{kicked, packet(12, {"bob"})}));
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::cyan, "bob was kicked out of the channel Main by alice."}));
    EXPECT_EQ(received(bob), (Packets{kicked, joinResult("The Void")}));
    EXPECT_EQ(received(dave), Packets{});
    EXPECT_EQ(host.events, (Lines{"send 0", "send 1", "send 2", "send 3", "yield", "send 2", "send 0", "send 1", "send 3"}));
    EXPECT_TRUE(server->channelBans.empty());
    // Without a reason the notice ends in a full stop; the target word again ends the reason.
    EXPECT_EQ(type(alice, "/kick carol")[0], notice("carol has been kicked from the channel by alice."));
    EXPECT_EQ(received(bob), Packets{});  // nobody in The Void hears of the arrival
    deliver(carol, frame(12, fields({"carol", "Main"})));
    EXPECT_EQ(type(alice, "/kick carol carol is rude")[0], notice("carol has been kicked from the channel by alice ()"));
}

TEST_F(StaffTest, ABanListsTheUserForTheCallersChannelAndAnyoneThereMayUnban) {
    enum { alice, mo, bob, carol, dave };
    cast({"alice", "mo", "bob", "carol", "dave"}, false, dave);
    say(alice, "/ban dave flooding");  // from another channel: listed, but left where he is
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
    say(carol, "/unban DAVE");
    EXPECT_EQ(server->channelBans.at("main"), "");
    consoleEntry(*server, "/unban bob");  // the console stands in no channel
    EXPECT_EQ(chatLines().back(), "That user is not banned.");
    EXPECT_EQ(lastLine().pieces[1].colour, colour::red);
}

TEST_F(StaffTest, MoveTakesAnyChannelNameAndTellsEverybody) {
    enum { alice, mo, bob, dave, stranger };
    cast({"alice", "mo", "bob", "dave"}, true, dave);
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

TEST_F(StaffTest, MuteFiltersAListedNameAndProtectsStaffFromClients) {
    enum { alice, mo, eve, bob };
    cast({"alice", "mo", "eve", "bob"});  // the stranger hears everything
    say(alice, "/mute Eve");
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::green, "Added \"eve\" to the global filter."}));
    expectEveryone({notice("Eve has been globally muted by alice.")});
    for (const char* text : {"/mute mo", "/mute ALICE"}) EXPECT_EQ(type(alice, text), Packets{notice("You cannot mute staff.", "0")});
    EXPECT_EQ(type(alice, "/mute Bob Smith"), Packets{notice("That user is not online.", "0")});
    // The key is the whole rest of the line; the notice names the first word only.
    server->lstUsers.push_back("@Bob Smith");
    say(alice, "/mute Bob Smith");
    expectEveryone({notice("Bob has been globally muted by alice.")});
    consoleEntry(*server, "/mute mo");  // the console may mute staff
    EXPECT_EQ(server->globalFilter, (Filter{"eve", "bob smith", "mo"}));

    say(alice, "/unmute EVE");
    say(alice, "/unmute mo");  // nor are staff protected from being unmuted
    EXPECT_EQ(server->globalFilter, Filter{"bob smith"});
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::green, "Removed \"mo\" from the global filter."}));
    EXPECT_EQ(type(alice, "/unmute eve"), Packets{notice("That user is not globally muted.", "0")});
    EXPECT_EQ(received(eve), (Packets{notice("mo has been globally muted by Server Console."),
                                      notice("EVE has been globally unmuted by alice."),
                                      notice("mo has been globally unmuted by alice.")}));
}

TEST_F(StaffTest, PromotionsWriteTheRosterAndRefillTheUserList) {
    enum { alice, mo, eve, bob };
    cast({"alice", "mo", "eve", "bob"});  // the stranger adds an empty name
    std::remove(dir.file("mods.txt").c_str());
    consoleEntry(*server, "/makemod BOB");
    EXPECT_EQ(dir.read("mods.txt"), "bob\r\n");
    EXPECT_EQ(server->users.find(bob)->authString, "moderator");
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "},
                                                         {colour::yellow, "Server Console promoted BOB to "},
                                                         {colour::white, "moderator!"}}));
    // The view lists staff first; clients get every record's list name in table order.
    EXPECT_EQ(server->lstUsers, (Lines{"%alice", "@mo", "@bob", "eve"}));
    expectEveryone({notice("Server Console promoted BOB to moderator!"), packet(9, {"%alice, @mo, eve, @bob, "})});

    say(alice, "/makemod bob");  // no check for a line already there
    say(alice, "/makeadmin eve");
    EXPECT_EQ(dir.read("mods.txt"), "bob\r\nbob\r\n");
    EXPECT_EQ(dir.read("admin.txt"), "alice\r\neve\r\n");
    EXPECT_EQ(server->lstUsers, (Lines{"%alice", "%eve", "@mo", "@bob"}));
    EXPECT_EQ(received(mo).back(), packet(9, {"%alice, @mo, %eve, @bob, "}));
    EXPECT_EQ(type(alice, "/makeadmin nobody"), Packets{notice("User is not present on Murmur.", "0")});
}

TEST_F(StaffTest, AnAdministratorsServerKickTellsEverybodyAndAModeratorsIsAReason) {
    enum { alice, bob, carol, mo };
    cast({"alice", "bob", "carol", "mo"}, false);
    say(alice, "/kick bob --server");
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "}, {colour::yellow, "bob was "},
                                                         {colour::white, "kicked"}, {colour::yellow, " from Murmur by alice."}}));
    const Packet kicked = notice("bob was kicked off of Murmur by alice.");
    EXPECT_EQ(received(bob), Packets{kicked});
    EXPECT_EQ(received(carol), (Packets{kicked, packet(4, {"bob"})}));
    // The notice reaches bob before his socket closes; the leave notice follows the yield.
    EXPECT_EQ(host.events, (Lines{"send 0", "send 1", "send 2", "send 3", "close 1", "yield", "send 0", "send 2", "send 3"}));
    EXPECT_EQ(socketCount(*server), 4);  // not the highest: it stays loaded
    EXPECT_EQ(server->lstUsers, (Lines{"%alice", "@mo", "carol"}));
    EXPECT_FALSE(dir.exists("banned.txt"));

    say(mo, "/kick carol --server");
    EXPECT_EQ(received(carol), (Packets{notice("carol has been kicked from the channel by mo (--server)"), joinResult("The Void")}));
}

TEST_F(StaffTest, APatternBansEveryMatchInTableOrderEachUnderTheFirstMatchingListEntry) {
    cast({"alice", "bob", "mo"}, false);  // the list puts "@mo" before "bob"
    say(0, "/ban ?O* --server spam  and eggs");
    EXPECT_EQ(chatLines(), (Lines{"mo was banned from Murmur by alice (spam and eggs)",
                                  "bob was banned from Murmur by alice (spam and eggs)"}));
    EXPECT_EQ(received(0), (Packets{notice("mo was banned off of Murmur by alice (spam and eggs)"),
                                    notice("bob was banned off of Murmur by alice (spam and eggs)"), packet(4, {"bob"})}));
    EXPECT_EQ(dir.read("banned.txt"), "?O*\r\n?O*\r\n");
    EXPECT_EQ(socketCount(*server), 2);
    EXPECT_EQ(server->lstUsers, Lines{"%alice"});
    EXPECT_EQ(server->lblUsers, "Total Users: 1");

    say(0, "/ban zed --server");  // nobody matches: only the leave notice goes out, empty
    EXPECT_EQ(received(0), Packets{packet(4, {""})});
    EXPECT_EQ(dir.read("banned.txt"), "?O*\r\n?O*\r\n");
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

TEST_F(StaffTest, TheConsoleSendsServerMessagesAnswersInTheChatViewAndSweepsWithoutAWord) {
    cast({"alice", "bob"});
    for (const char* text : {"", "/", "/   ", "/Kick bob"}) consoleEntry(*server, text);
    consoleEntry(*server, "/finger BOB");  // answers go to the chat view, white unless refusals
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::white, "bob is using an IP address of 10.0.0.2"}));
    consoleEntry(*server, "/Cls with more words");
    ASSERT_EQ(server->rtbChat.lines().size(), 1u);
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::green, "Dumped chat screen."}));
    EXPECT_EQ(host.events, Lines{});

    socket(1).close();
    consoleEntry(*server, " /kick bob");  // a leading space makes even a command a message
    for (int c : {0, 2}) EXPECT_EQ(received(c), Packets{packet(6, {" /kick bob"})});
    EXPECT_EQ(received(1), Packets{});
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "},
                                                         {colour::cyan, "<SERVER MESSAGE> "}, {colour::white, " /kick bob"}}));

    host.events.clear();
    consoleEntry(*server, "/SWEEPSERV");
    EXPECT_EQ(host.events, (Lines{"close 2", "close 0"}));
    EXPECT_EQ(socketCount(*server), 1);
    EXPECT_EQ(server->users.count(), 0u);
    EXPECT_EQ(server->lstUsers, Lines{});
    EXPECT_EQ(server->lblUsers, "Total Users: 0");
}

TEST_F(StaffTest, TheConsoleListsCommandsUsersChannelsAndCounts) {
    cast({"alice", "mo", "bob"}, true, 2);
    const std::string refused = frame(1, fields({"bad name", "", "1"}));
    deliver(connect("10.0.0.8"), refused);
    chatLines();
    host.events.clear();
    server->restrictedChannels = {"LOBBY"};
    host.ticks += 3723000;
    host.time = {2026, 12, 7, 13, 36, 59};

    consoleEntry(*server, "/Users");
    EXPECT_EQ(chatLines(), (Lines{"Connection #1: %alice from 10.0.0.1 in Main, Murmur Client, logged on for 01:02:03",
                                  "Connection #2: @mo from 10.0.0.2 in Main, Murmur Client, logged on for 01:02:03",
                                  "Connection #3: bob from 10.0.0.3 in Lobby, Murmur Client, logged on for 01:02:03",
                                  "Connection #4: (not logged on) from 10.0.0.9", "Total Users: 3"}));
    consoleEntry(*server, "/channels");
    EXPECT_EQ(chatLines(), (Lines{"Lobby (1, restricted): bob", "Main (2): %alice, @mo", "Total Channels: 2"}));

    std::size_t in = refused.size() + frame(12, fields({"bob", "Lobby"})).size(), out = 0;
    for (const char* name : {"alice", "mo"}) in += frame(1, fields({name, staffPassword, "1"})).size();
    in += frame(1, fields({"bob", "", "1"})).size();
    for (FakeSocket* socket : host.sockets()) out += socket->sent.size();
    consoleEntry(*server, "/STATS");
    Lines stats = chatLines();
    ASSERT_EQ(stats.size(), 5u);
    EXPECT_EQ(Lines(stats.begin(), stats.end() - 1),
              (Lines{"Uptime: 01:02:03", "Connections: 4 open, 3 users logged on", "Logons since start: 3 accepted, 1 refused",
                     "Traffic since start: " + std::to_string(in) + " bytes in, " + std::to_string(out) + " bytes out"}));
    const std::string kilobytes = stats[4].substr(std::min<std::size_t>(8, stats[4].size()));
    EXPECT_TRUE(stats[4].rfind("Memory: ", 0) == 0 && kilobytes.size() > 3 && kilobytes.ends_with(" kB") &&
                kilobytes.find_first_not_of("0123456789") == kilobytes.size() - 3)
        << stats[4];
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::green, "Memory: "}));
    // The tick count wraps every 49.7 days; the clock tells how often it has.
    host.ticks = 1000 + static_cast<std::int32_t>((52 * 86400 + 3723) * 1000LL % (1LL << 32));
    host.time = {2027, 1, 28, 13, 36, 59};
    consoleEntry(*server, "/stats");
    EXPECT_EQ(chatLines().at(0), "Uptime: 52d 01:02:03");

    consoleEntry(*server, "/help");
    Lines help = chatLines();
    ASSERT_EQ(help.size(), 20u);
    EXPECT_EQ(Lines(help.begin(), help.begin() + 3),
              (Lines{"Console commands:", "TEXT - a server message to every connected client", "/help - this list"}));
    EXPECT_EQ(help[8], "Staff commands, run as Server Console with an administrator's rights:");
    for (const char* word : {"kick", "ban", "move", "mute", "unmute", "makemod", "makeadmin", "broadcast", "finger", "unban",
                             "channelphantom"})
        EXPECT_TRUE(std::any_of(help.begin() + 9, help.end(),
                                [&](const std::string& line) { return line.rfind("/" + std::string(word) + " ", 0) == 0; }))
            << word;
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::cyan, "/channelphantom on|off"}));
    EXPECT_EQ(host.events, Lines{});  // nothing went to any client
}

TEST_F(StaffTest, TheConsoleAlwaysActsServerWideAndSparesNoRank) {
    cast({"alice", "bob", "carol"}, false);
    consoleEntry(*server, "/kick  alice");  // an empty target does nothing at all
    EXPECT_EQ(host.events, Lines{});
    consoleEntry(*server, "/kick carol --server");
    EXPECT_EQ(socketCount(*server), 2);
    consoleEntry(*server, "/kick bob");
    EXPECT_EQ(socketCount(*server), 1);
    dir.write("banned.txt", "mallory");  // a hand edit without the last CR LF
    consoleEntry(*server, "/ban ALICE being away");
    EXPECT_EQ(socketCount(*server), 1);  // socket 0 is never unloaded
    EXPECT_EQ(chatLines(), (Lines{"carol was kicked from Murmur by Server Console (--server)",
                                  "bob was kicked from Murmur by Server Console.",
                                  "alice was banned from Murmur by Server Console (being away)"}));
    EXPECT_EQ(dir.read("banned.txt"), "mallory\r\nALICE\r\n");
    EXPECT_EQ(server->users.count(), 0u);
}

}  // namespace
}  // namespace murmur::test
