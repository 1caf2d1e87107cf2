// From a fresh connection to a user in "Main", or a refusal with its fixed text and ending; and
// the rule that nothing but a logon is heard from a connection that has not logged on.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/Connections.h"
#include "protocol/Dispatch.h"
#include "protocol/Logon.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using namespace std::string_literals;

const std::string kTitle = "Murmur Server v1.2 by Halden";
const std::string kInvalidProcedure = "Invalid connection procedure.";
const std::string kNoSpaces = "Names with spaces are not permitted on Murmur.";
const std::string kNoControls = "Names with control characters or colons are not permitted on Murmur.";
const std::string kNoName = "You have tried logging in without a name.";
const std::string kSpoofing = "Trying to spoof a mod / admin (don't use \"@\" or \"%\" to the left of your name)";
const std::string kBanned = "You have been banned from the server.";
const std::string kIpBanned = "You are IPBanned from this server.";
const std::string kInvalidPassword = "The server requires validation. Invalid password.";
const std::string kNoPassword = "You didn't supply a password for your account.";
const std::string kAccountTrouble = "The server could not check or store your account. Please try again later.";
const std::string kDuplicate = "You tried logging in with a duplicate name.";
const std::string kNotLoggedOn = "Invalid action prior to logging on. You will be disconnected now.";

using Packets = std::vector<Packet>;
using Lines = std::vector<std::string>;

Packet refusalNotice(const std::string& text) { return packet(3, {text, "0"}); }
Packet welcome(const std::string& rank) { return packet(5, {kTitle, rank}); }
const Packet kJoinedMain = packet(13, {"Main", "success"});
const Packet kAccountCreated{10, ""};

class LogonTest : public ServerTest {
protected:
    void SetUp() override {
        start();
        chatLines();
    }

    void logon(int c, const std::string& name, const std::string& password = "", const std::string& code = "1") {
        deliver(c, frame(1, fields({name, password, code})));
    }

    // A client that connects and logs on; what every client was sent so far is taken.
    int loggedOn(const std::string& name, const std::string& address = "10.0.0.1", const std::string& code = "1") {
        int c = connect(address);
        logon(c, name, "", code);
        EXPECT_TRUE(server->users.find(static_cast<ConnectionNumber>(c))->hasLoggedIn) << name;
        for (int i = 0; i < socketCount(*server); ++i) socket(i).takeSent();
        chatLines();
        return c;
    }

    const clsUserData* record(int c) const { return server->users.find(static_cast<ConnectionNumber>(c)); }

    // What the host saw from here on.
    std::vector<std::string> eventsSince(std::size_t mark) const {
        return {host.events.begin() + static_cast<std::ptrdiff_t>(mark), host.events.end()};
    }
    std::string sendOn(int c) { return "send " + std::to_string(socket(c).id()); }
    std::string closeOn(int c) { return "close " + std::to_string(socket(c).id()); }

    // The refusal procedures: the notice, one turn of the event loop, the close; the record goes
    // only with a drop.
    void expectRefused(int c, const std::string& text, bool recordStays) {
        SCOPED_TRACE(text);
        EXPECT_EQ(received(c), Packets{refusalNotice(text)});
        EXPECT_EQ(socket(c).state(), sckClosed);
        EXPECT_EQ(server->users.contains(static_cast<ConnectionNumber>(c)), recordStays);
        if (recordStays) {
            EXPECT_FALSE(record(c)->hasLoggedIn);
        }
    }
};

TEST(PasswordHash, EachCharacterIsCountedAlongItsKeyEntry) {
    // Key 2, 5, 1, 4, 3, 6 taken one more time each: +3, -6, +2, -5, +4, -7, then round again.
    EXPECT_EQ(hashPassword(""), "");
    EXPECT_EQ(hashPassword("a"), "d");
    EXPECT_EQ(hashPassword("ab"), "d\\");
    EXPECT_EQ(hashPassword("secret"), "v_emim");
    EXPECT_EQ(hashPassword("password"), "s[un{hu^");
    EXPECT_EQ(hashPassword("abcdefgh"), "d\\e_i_jb");
    EXPECT_EQ(hashPassword("7"), ":");
    // Counting up past 254 gives "48", and a later step goes on from its "4".
    EXPECT_EQ(hashPassword("\xfc"), "48");
    EXPECT_EQ(hashPassword("\xfe"), "6");
    EXPECT_EQ(hashPassword("\xff"), "6");
    EXPECT_EQ(hashPassword("ab\xfd"), "d\\48");
    EXPECT_EQ(hashPassword("ab\xfe"), "d\\5");
    // Counting down to 0 gives "50", and a later step goes on from its "5".
    EXPECT_EQ(hashPassword("x\x06"), "{50");
    EXPECT_EQ(hashPassword("x\x01"), "{0");
    EXPECT_EQ(hashPassword("abcdef\xfc"), "d\\e_i_48");
}

TEST_F(LogonTest, RefusalsThatDropTheRecordAndWhichOfThemAreCounted) {
    int watcher = loggedOn("watcher", "10.0.0.9");
    struct Case {
        std::string name, code, text;
        bool counted;
    };
    const std::vector<Case> cases = {
        {"bob", "x", kInvalidProcedure, false},
        {"bob", "", kInvalidProcedure, false},
        {"bob", "1a", kInvalidProcedure, false},
        {"bob smith", "1", kNoSpaces, false},
        {"bob\tsmith", "1", kNoControls, false},
        {"bob\x1f", "1", kNoControls, false},
        {"bob:x", "1", kNoControls, false},
        {"a b:c", "1", kNoSpaces, false},
        {"", "1", kNoName, true},
        {"@bob", "1", kSpoofing, true},
        {"%bob", "1", kSpoofing, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.name) + " code " + c.code);
        int conn = connect("10.0.0.7");
        std::int16_t before = server->logonCounts.contains(conn) ? *server->logonCounts.find(conn) : 0;
        std::size_t mark = host.events.size();
        logon(conn, c.name, "pw", c.code);
        expectRefused(conn, c.text, false);
        EXPECT_EQ(eventsSince(mark), (std::vector<std::string>{sendOn(conn), "yield", closeOn(conn)}));
        std::int16_t after = server->logonCounts.contains(conn) ? *server->logonCounts.find(conn) : 0;
        EXPECT_EQ(after - before, c.counted ? 1 : 0);
        EXPECT_TRUE(chatLines().empty());
        EXPECT_TRUE(received(watcher).empty());
    }
    EXPECT_EQ(server->lstUsers, Lines{"watcher"});
    EXPECT_EQ(socketCount(*server), 2);  // a drop leaves the socket loaded for the next client

    // The framing turns away a logon without exactly three fields before it is dispatched; the
    // logon refuses one that reaches it all the same.
    for (const std::string& payload : {"bob\0pw"s, "bob\0pw\0" "1\0x"s}) {
        int conn = connect();
        dispatchPacket(*server, 1, static_cast<ConnectionNumber>(conn), payload);
        expectRefused(conn, kInvalidProcedure, false);
    }
    // "@" and "%" only spoof at the front.
    int later = connect();
    logon(later, "b@b%");
    EXPECT_EQ(record(later)->listName, "b@b%");
}

TEST_F(LogonTest, BannedNamesAreRefusedAndClosedAndBannedAddressesOnlyToldSo) {
    dir.write("banned.txt", "Bob\r\n Eve\r\nb*\r\n");
    dir.write("IPs.txt", "10.0.0.7\r\n");
    int watcher = loggedOn("watcher", "10.0.0.9");

    for (std::string name : {"bob", "BOB"}) {
        int c = connect("10.0.0.1");
        std::size_t mark = host.events.size();
        logon(c, name);
        expectRefused(c, kBanned, true);
        EXPECT_EQ(eventsSince(mark), (std::vector<std::string>{sendOn(c), "yield", closeOn(c)}));
        EXPECT_EQ(chatLines(), Lines{name + " has been banned, and is unable to connect."});
        EXPECT_EQ(lastLine().pieces.size(), 2u);
        EXPECT_EQ(lastLine().pieces[1].colour, colour::red);
    }

    // A name ban wins over an address ban.
    int both = connect("10.0.0.7");
    logon(both, "Bob");
    expectRefused(both, kBanned, true);
    EXPECT_EQ(chatLines(), Lines{"Bob has been banned, and is unable to connect."});

    // The address ban: a notice without a kind, and the connection stays as it was.
    int banned = connect("10.0.0.7");
    std::size_t mark = host.events.size();
    logon(banned, "mallory");
    EXPECT_EQ(socket(banned).takeSent(), "\x03" "34\0You are IPBanned from this server."s);
    EXPECT_EQ(eventsSince(mark), (std::vector<std::string>{sendOn(banned), "yield"}));
    EXPECT_EQ(socket(banned).state(), sckConnected);
    EXPECT_FALSE(record(banned)->hasLoggedIn);
    EXPECT_EQ(record(banned)->listName, "");
    EXPECT_EQ(chatLines(), Lines{"mallory tried to connect, but they are IPBanned."});
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::red, "mallory tried to connect, but they are IPBanned."}));
    // Counted like any logon that gets past the name checks; the number's count goes on from the
    // three refused clients before.
    EXPECT_EQ(*server->logonCounts.find(banned), 4);
    logon(banned, "mallory");
    EXPECT_EQ(received(banned), (Packets{{3, kIpBanned}}));
    EXPECT_EQ(*server->logonCounts.find(banned), 5);

    // Lines are whole: no trimming, no patterns, no address prefixes.
    int eve = connect("10.0.0.70");
    logon(eve, "eve");
    EXPECT_TRUE(record(eve)->hasLoggedIn);
    int bea = connect("10.0.0.8");
    logon(bea, "bea");
    EXPECT_TRUE(record(bea)->hasLoggedIn);
    int star = connect("10.0.0.8");
    logon(star, "B*");
    expectRefused(star, kBanned, true);

    EXPECT_EQ(received(watcher), (Packets{packet(1, {"eve", "1", "0"}), {15, "eve"},
                                          packet(1, {"bea", "1", "0"}), {15, "bea"}}));
    EXPECT_EQ(server->lstUsers, (Lines{"watcher", "eve", "bea"}));
}

TEST_F(LogonTest, LogonsAreCountedForLoadControlAndStartItsTimerOnlyWhenEnabled) {
    ASSERT_EQ(server->settings.loadControl, "N");
    int c = connect();
    logon(c, "a b");
    logon(connect(), "a\x01");
    logon(connect(), "bob", "", "one");
    EXPECT_FALSE(server->logonCounts.contains(0));
    logon(connect(), "");
    logon(connect(), "%x");
    c = connect();
    logon(c, "bob");
    EXPECT_EQ(c, 0);
    EXPECT_EQ(*server->logonCounts.find(0), 3);
    EXPECT_FALSE(server->tmrLoad->enabled());
    // A logged-on connection's further logons are not heard at all.
    logon(c, "bob");
    EXPECT_EQ(*server->logonCounts.find(0), 3);

    server->settings.loadControl = "Y";
    int d = connect();
    logon(d, "a b");
    EXPECT_FALSE(server->tmrLoad->enabled());
    EXPECT_FALSE(server->logonCounts.contains(static_cast<ConnectionNumber>(d)));
    d = connect();
    logon(d, "");
    EXPECT_TRUE(server->tmrLoad->enabled());
    EXPECT_EQ(*server->logonCounts.find(static_cast<ConnectionNumber>(d)), 1);
    EXPECT_EQ(server->logonCounts.keys(), (std::vector<ConnectionNumber>{0, static_cast<ConnectionNumber>(d)}));
}

TEST_F(LogonTest, AcceptanceTellsTheOperatorTheUserAndEveryoneElse) {
    int alice = loggedOn("alice", "10.0.0.1");
    int carl = loggedOn("carl", "10.0.0.2");
    server->users.find(static_cast<ConnectionNumber>(alice))->channel = "mAIN";
    server->users.find(static_cast<ConnectionNumber>(carl))->channel = "Lobby";
    int waiting = connect("10.0.0.3");
    int gone = connect("10.0.0.4");
    host.ticks = 2000;
    int bob = connect("10.0.0.7");
    closeSocket(*server, static_cast<ConnectionNumber>(gone));
    received(alice);
    received(carl);
    received(waiting);

    host.ticks = 2250;
    std::size_t mark = host.events.size();
    logon(bob, "bob", "ignored", "01");

    EXPECT_EQ(chatLines(), Lines{"Connection #5 (from 10.0.0.7) connected to Murmur with the nickname: bob. (250ms ping)"});
    const ChatLine& line = lastLine();
    ASSERT_EQ(line.pieces.size(), 4u);
    EXPECT_EQ(line.pieces[1], (ChatPiece{colour::yellow, "Connection #5 (from "}));
    EXPECT_EQ(line.pieces[2], (ChatPiece{colour::white, "10.0.0.7"}));
    EXPECT_EQ(line.pieces[3],
              (ChatPiece{colour::yellow, ") connected to Murmur with the nickname: bob. (250ms ping)"}));

    EXPECT_EQ(socket(bob).takeSent(), "\x05" "35\0Murmur Server v1.2 by Halden\0normal"
                                      "\x0d" "12\0Main\0success"s);
    const Packet loggedOnNotice = packet(1, {"bob", "01", "250"});
    EXPECT_EQ(received(alice), (Packets{loggedOnNotice, {15, "bob"}}));
    EXPECT_EQ(received(carl), Packets{loggedOnNotice});
    EXPECT_EQ(received(waiting), Packets{loggedOnNotice});
    EXPECT_EQ(socket(gone).takeSent(), "");
    EXPECT_EQ(eventsSince(mark), (std::vector<std::string>{sendOn(bob), "yield", sendOn(bob), sendOn(alice),
                                                           sendOn(carl), sendOn(waiting), sendOn(alice)}));

    EXPECT_EQ(server->lstUsers, (Lines{"alice", "carl", "bob"}));
    EXPECT_EQ(server->lblUsers, "Total Users: 3");

    const clsUserData* r = record(bob);
    EXPECT_TRUE(r->hasLoggedIn);
    EXPECT_EQ(r->channel, "Main");
    EXPECT_EQ(r->authString, "normal");
    EXPECT_EQ(r->originalName, "bob");
    EXPECT_EQ(r->listName, "bob");
    EXPECT_EQ(r->flags, "3");
    EXPECT_EQ(r->product, "Murmur Client");
    EXPECT_FALSE(r->isQueueSharing);
    EXPECT_FALSE(r->isChannelPhantom);
    EXPECT_EQ(r->IP, "10.0.0.7");
    EXPECT_EQ(r->ping, 250);
    EXPECT_EQ(r->initialPing, 2000);

    // The new user hears of nobody until it asks; in the same read, it is asked after the logon.
    // Dora takes the closed socket and its place in the table, ahead of bob.
    int dora = connect("10.0.0.8");
    EXPECT_EQ(dora, gone);
    deliver(dora, frame(1, fields({"dora", "", "1"})) + frame(9, ""));
    EXPECT_EQ(received(dora), (Packets{welcome("normal"), kJoinedMain, {9, "alice, dora, bob"}}));
}

TEST_F(LogonTest, TheProductCodeChoosesTheLabelAndTheDisplayName) {
    int watcher = loggedOn("watcher", "10.0.0.9");
    struct Case {
        std::string code, label;
    };
    const std::vector<Case> cases = {
        {"1", "Murmur Client"},     {"01", "Murmur Client"},       {"1.0", "Murmur Client"},
        {"2", "Skiff Plugin"},      {"3", "MurmurBot client"},     {"4", "Murmur Bot by Orvo"},
        {"5", "Brambot client"},    {"6", "Tinbot by Ressa"},      {"7", "Unknown by Pell"},
        {"8", "Murmur Queue Slave"}, {" 8 ", "Murmur Queue Slave"}, {"9", "Quill Client by Quade"},
        {"0", "Unknown client"},    {"10", "Unknown client"},      {"-1", "Unknown client"},
        {"1.5", "Unknown client"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("code '" + c.code + "'");
        int conn = connect("10.0.0.7");
        logon(conn, "bob", "", c.code);
        bool plain = c.label == "Murmur Client";
        EXPECT_EQ(chatLines(), Lines{"Connection #2 (from 10.0.0.7) connected to Murmur with the nickname: bob" +
                                     (plain ? "" : " (" + c.label + ")") + ". (0ms ping)"});
        EXPECT_EQ(record(conn)->product, c.label);
        EXPECT_EQ(record(conn)->isQueueSharing, c.label == "Murmur Queue Slave");
        EXPECT_EQ(received(watcher), (Packets{packet(1, {"bob", c.code, "0"}), {15, "bob"}}));
        socket(conn).peerCloses();
        chatLines();
        received(watcher);
    }
}

TEST_F(LogonTest, StaffRanksComeFromTheRosterFilesAtEveryLogon) {
    dir.write("admin.txt", "Root\r\nBob\r\n");
    dir.write("mods.txt", "bob\r\ncarol \r\nMo\r\n");
    struct Case {
        std::string name, rank, flags, listName;
    };
    const std::vector<Case> cases = {
        {"bob", "admin", "1", "%bob"},         // in both files
        {"ROOT", "admin", "1", "%ROOT"},       // letter case aside
        {"mo", "moderator", "2", "@mo"},
        {"carol", "normal", "3", "carol"},     // the line has a trailing space
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int conn = connect("10.0.0.7");
        logon(conn, c.name, "", "2");
        EXPECT_EQ(received(conn), (Packets{welcome(c.rank), kJoinedMain}));
        EXPECT_EQ(chatLines(), Lines{"Connection #1 (from 10.0.0.7) connected to Murmur with the nickname: " +
                                     c.listName + " (Skiff Plugin). (0ms ping)"});
        EXPECT_EQ(record(conn)->authString, c.rank);
        EXPECT_EQ(record(conn)->flags, c.flags);
        EXPECT_EQ(record(conn)->listName, c.listName);
        EXPECT_EQ(record(conn)->originalName, c.name);
        EXPECT_EQ(server->lstUsers, Lines{c.listName});
        socket(conn).peerCloses();
        chatLines();
    }

    // Edits count at the next logon; a file with bare line feeds is one single line.
    std::filesystem::remove(dir.file("admin.txt"));
    dir.write("mods.txt", "dave\neve\n");
    int dave = connect();
    logon(dave, "dave");
    EXPECT_EQ(record(dave)->authString, "normal");
    dir.write("mods.txt", "frank");
    int frank = connect();
    logon(frank, "Frank");
    EXPECT_EQ(record(frank)->authString, "moderator");
    EXPECT_EQ(record(frank)->listName, "@Frank");
    dir.write("mods.txt", "");
    int bob = connect();
    logon(bob, "bob");
    EXPECT_EQ(record(bob)->authString, "normal");
}

TEST_F(LogonTest, AStaffLogonPutsTheUserListInStaffOrder) {
    dir.write("admin.txt", "root\r\n");
    dir.write("mods.txt", "mo\r\nmia\r\n");
    loggedOn("zed");
    loggedOn("amy");
    connect();  // not logged on: no list name
    loggedOn("mo");
    EXPECT_EQ(server->lstUsers, (Lines{"@mo", "zed", "amy"}));
    loggedOn("ann");
    EXPECT_EQ(server->lstUsers, (Lines{"@mo", "zed", "amy", "ann"}));
    loggedOn("root");
    EXPECT_EQ(server->lstUsers, (Lines{"%root", "@mo", "zed", "amy", "ann"}));
    loggedOn("mia");
    EXPECT_EQ(server->lstUsers, (Lines{"%root", "@mo", "@mia", "zed", "amy", "ann"}));
    EXPECT_EQ(server->lblUsers, "Total Users: 6");
}

TEST_F(LogonTest, ADuplicateNameIsRefusedUnlessItsHolderIsGone) {
    int alice = loggedOn("alice", "10.0.0.1");
    int bob = loggedOn("bob", "10.0.0.2");

    int second = connect("10.0.0.3");
    logon(second, "ALICE");
    expectRefused(second, kDuplicate, false);
    EXPECT_TRUE(chatLines().empty());
    EXPECT_TRUE(received(alice).empty());
    EXPECT_TRUE(record(alice)->hasLoggedIn);

    // Bob's socket is closed without a close event: his record and list entry are left over.
    int again = connect("10.0.0.4");
    closeSocket(*server, static_cast<ConnectionNumber>(bob));
    logon(again, "Bob");
    EXPECT_EQ(received(again), (Packets{welcome("normal"), kJoinedMain}));
    EXPECT_EQ(server->lstUsers, (Lines{"alice", "Bob"}));
    EXPECT_EQ(server->lblUsers, "Total Users: 2");
    const clsUserData* left = record(bob);
    ASSERT_NE(left, nullptr);
    EXPECT_FALSE(left->hasLoggedIn);
    EXPECT_EQ(left->originalName, "");
    EXPECT_EQ(left->listName, "");
    EXPECT_EQ(left->channel, "");
    EXPECT_EQ(left->initialPing, 0);
    EXPECT_EQ(server->users.keys(),
              (std::vector<ConnectionNumber>{static_cast<ConnectionNumber>(alice), static_cast<ConnectionNumber>(bob),
                                             static_cast<ConnectionNumber>(again)}));
    EXPECT_EQ(received(alice), (Packets{packet(1, {"Bob", "1", "0"}), {15, "Bob"}}));
}

TEST_F(LogonTest, NothingButALogonIsHeardBeforeLoggingOn) {
    int watcher = loggedOn("watcher");
    for (int id : {0, 2, 5, 9, 11, 12, 19}) {
        SCOPED_TRACE(id);
        int c = connect("10.0.0.7");
        std::size_t mark = host.events.size();
        // What follows in the same read is not handled.
        deliver(c, frame(id, fields({"bob", "Main"})) + frame(1, fields({"bob", "", "1"})));
        expectRefused(c, kNotLoggedOn, true);
        EXPECT_EQ(eventsSince(mark), (std::vector<std::string>{sendOn(c), "yield", closeOn(c)}));
        EXPECT_FALSE(server->logonCounts.contains(static_cast<ConnectionNumber>(c)));
    }
    EXPECT_TRUE(received(watcher).empty());
    EXPECT_TRUE(chatLines().empty());

    // Without a record the packet goes unheard.
    int c = connect();
    server->users.remove(static_cast<ConnectionNumber>(c));
    dispatchPacket(*server, 9, static_cast<ConnectionNumber>(c), "");
    EXPECT_EQ(socket(c).takeSent(), "");
    EXPECT_EQ(socket(c).state(), sckConnected);
}

TEST_F(LogonTest, LoggedOnClientsHaveIdsWithoutHandlerAndWrongFieldCountsIgnored) {
    int alice = loggedOn("alice", "10.0.0.1");
    int bob = loggedOn("bob", "10.0.0.2");
    for (int id : {0, 3, 4, 5, 6, 10, 13, 15}) deliver(alice, frame(id, "x"));
    deliver(alice, frame(2, fields({"alice", "hi", "there"})));
    deliver(alice, frame(12, "alice"));
    deliver(alice, frame(12, fields({"alice", "Lobby", "x"})));
    deliver(alice, frame(14, fields({"alice", "bob"})));
    // A second logon neither renames nor re-announces.
    deliver(alice, frame(1, fields({"zed", "", "2"})));
    EXPECT_EQ(socket(alice).state(), sckConnected);
    EXPECT_TRUE(received(alice).empty());
    EXPECT_TRUE(received(bob).empty());
    EXPECT_TRUE(chatLines().empty());
    EXPECT_EQ(record(alice)->originalName, "alice");
    EXPECT_EQ(record(alice)->product, "Murmur Client");
    EXPECT_EQ(record(alice)->channel, "Main");
    EXPECT_EQ(server->lstUsers, (Lines{"alice", "bob"}));

    // The same chat with its two fields goes through.
    deliver(alice, frame(2, fields({"alice", "hi"})));
    EXPECT_EQ(received(bob), Packets{packet(2, {"alice", "hi"})});
}

class ValidationTest : public LogonTest {
protected:
    void SetUp() override {
        LogonTest::SetUp();
        server->settings.authentication = "Y";
    }
};

TEST_F(ValidationTest, TheFirstLogonStoresTheAccountAndLaterOnesMustMatchIt) {
    int first = connect();
    std::size_t mark = host.events.size();
    logon(first, "Bob", "secret");
    EXPECT_EQ(dir.read("users.txt"), "Bob:v_emim\r\n");
    EXPECT_EQ(socket(first).sent.substr(0, 3), "\x0a" "0\0"s);
    EXPECT_EQ(received(first), (Packets{kAccountCreated, welcome("normal"), kJoinedMain}));
    EXPECT_EQ(eventsSince(mark), (std::vector<std::string>{sendOn(first), "yield", sendOn(first), "yield", sendOn(first)}));
    socket(first).peerCloses();

    int again = connect();
    logon(again, "bOB", "secret");
    EXPECT_EQ(received(again), (Packets{welcome("normal"), kJoinedMain}));
    EXPECT_EQ(record(again)->listName, "bOB");

    for (std::string wrong : {"Secret", "secre", "secrets", ""}) {
        int c = connect();
        logon(c, "BOB", wrong);
        expectRefused(c, kInvalidPassword, true);
    }
    EXPECT_EQ(dir.read("users.txt"), "Bob:v_emim\r\n");
    EXPECT_EQ(server->lstUsers, Lines{"bOB"});
}

TEST_F(ValidationTest, AnEmptyPasswordNeedsAnExistingFile) {
    int c = connect();
    logon(c, "amy", "");
    expectRefused(c, kNoPassword, true);
    EXPECT_FALSE(dir.exists("users.txt"));
    EXPECT_TRUE(chatLines().empty());

    // An existing file, even an empty one, takes an account without a password.
    dir.write("users.txt", "");
    c = connect();
    logon(c, "eve", "");
    EXPECT_EQ(received(c), (Packets{kAccountCreated, welcome("normal"), kJoinedMain}));
    EXPECT_EQ(dir.read("users.txt"), "eve:\r\n");
    socket(c).peerCloses();

    dir.write("users.txt", "Bob:v_emim\r\n");
    c = connect();
    logon(c, "amy", "");
    EXPECT_EQ(received(c), (Packets{kAccountCreated, welcome("normal"), kJoinedMain}));
    EXPECT_EQ(dir.read("users.txt"), "Bob:v_emim\r\namy:\r\n");
    socket(c).peerCloses();

    c = connect();
    logon(c, "AMY", "x");
    expectRefused(c, kInvalidPassword, true);
    c = connect();
    logon(c, "AMY", "");
    EXPECT_EQ(received(c), (Packets{welcome("normal"), kJoinedMain}));

    // Without validation the password is not looked at and the file not touched.
    server->settings.authentication = "N";
    c = connect();
    logon(c, "Bob", "wrong");
    EXPECT_EQ(received(c), (Packets{welcome("normal"), kJoinedMain}));
    EXPECT_EQ(dir.read("users.txt"), "Bob:v_emim\r\namy:\r\n");
}

TEST_F(ValidationTest, AccountLinesAreReadAsTheServerWritesThem) {
    const std::string accounts = "carl\r\nzed::\r\nBoB:s[un{hu^\r\nbob:other\r\nlast:d";
    dir.write("users.txt", accounts);

    // The first line of the name counts; longer passwords are fine.
    int bob = connect();
    logon(bob, "bob", "password");
    EXPECT_EQ(received(bob), (Packets{welcome("normal"), kJoinedMain}));
    // The stored encoding is everything after the name's colon, colons included.
    int zed = connect();
    logon(zed, "zed", "7");
    EXPECT_EQ(received(zed), (Packets{welcome("normal"), kJoinedMain}));
    int wrongZed = connect();
    logon(wrongZed, "ZED", "");
    expectRefused(wrongZed, kInvalidPassword, true);
    EXPECT_EQ(dir.read("users.txt"), accounts);

    // A line without a colon is no account.
    int carl = connect();
    logon(carl, "carl", "a");
    EXPECT_EQ(received(carl), (Packets{kAccountCreated, welcome("normal"), kJoinedMain}));
    EXPECT_EQ(dir.read("users.txt"), accounts + "carl:d\r\n");

    // An unfinished last line is never an account, and the next one is glued onto it.
    dir.write("users.txt", accounts);
    int last = connect();
    logon(last, "last", "a");
    EXPECT_EQ(received(last), (Packets{kAccountCreated, welcome("normal"), kJoinedMain}));
    EXPECT_EQ(dir.read("users.txt"), accounts + "last:d\r\n");
}

TEST_F(ValidationTest, AnAccountFileThatCannotBeUsedRefusesTheLogon) {
    server->settings.authentication = "N";
    int watcher = loggedOn("watcher");
    server->settings.authentication = "Y";
    std::filesystem::create_directory(dir.file("users.txt"));
    int c = connect();
    logon(c, "bob", "secret");
    expectRefused(c, kAccountTrouble, false);
    EXPECT_EQ(chatLines(), Lines{"The account file " + dir.file("users.txt") + " could not be read."});
    EXPECT_EQ(lastLine().pieces[1].colour, colour::red);
    EXPECT_TRUE(received(watcher).empty());

    // The account is written beside the file first; when that cannot be made, nothing is stored.
    std::filesystem::remove(dir.file("users.txt"));
    std::filesystem::create_directory(dir.file("users.txt.tmp"));
    c = connect();
    logon(c, "bob", "secret");
    expectRefused(c, kAccountTrouble, false);
    EXPECT_EQ(chatLines(), Lines{"The account file " + dir.file("users.txt") + " could not be written."});
    EXPECT_FALSE(dir.exists("users.txt"));
    EXPECT_EQ(server->lstUsers, Lines{"watcher"});
}

}  // namespace
}  // namespace murmur::test
