// From a fresh connection to a user in "Main", or a refusal with its fixed text and ending.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "core/Connections.h"
#include "protocol/Logon.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;
using Lines = std::vector<std::string>;
using namespace std::string_literals;

const Packet kJoinedMain = packet(13, {"Main", "success"});
const std::string kAccounts = "alice:\r\namy:d\r\n";
Packet welcome(const std::string& rank) { return packet(5, {"Murmur Server v1.2 by Halden", rank}); }
std::string refused(const std::string& text) { return frame(3, fields({text, "0"})); }
std::string logonFrame(const std::string& name, const std::string& password = "", const std::string& code = "1") {
    return frame(1, fields({name, password, code}));
}

class LogonTest : public ServerTest {
protected:
    void SetUp() override { start(); }
    const clsUserData* record(int c) const { return server->users.find(static_cast<ConnectionNumber>(c)); }
    Lines eventsSince(std::size_t mark) const { return {host.events.begin() + static_cast<long>(mark), host.events.end()}; }
};

TEST(PasswordHash, EachCharacterWalksItsKeyEntryAndWrapsPastTheEnds) {
    for (const auto& [plain, stored] : std::vector<std::pair<std::string, std::string>>{
             {"ab", "d\\"}, {"password", "s[un{hu^"}, {"\xfe", "6"}, {"ab\xfd", "d\\48"}, {"x\x06", "{50"}, {"abcdef\xfc", "d\\e_i_48"}})
        EXPECT_EQ(hashPassword(plain), stored) << plain;
}

TEST_F(LogonTest, EveryRefusalHasItsTextAndItsEnding) {
    enum End { drop, close, stay };  // closed and the record gone; closed, the record kept; only told
    struct Case {
        std::string bytes, sent; End end; bool counted;  // counted towards load control
        std::string line = "", address = "10.0.0.1", users = kAccounts, blocker = "";
    };
    const std::string spoof = "Trying to spoof a mod / admin (don't use \"@\" or \"%\" to the left of your name)";
    const std::string controls = "Names with control characters or colons are not permitted on Murmur.";
    const std::string trouble = "The server could not check or store your account. Please try again later.";
    const std::string accountFile = "The account file " + dir.file("users.txt");
    const std::vector<Case> cases = {
        {frame(1, fields({"bob", "pw"})), refusal("Your client is not compatible with this server."), close, false},
        {logonFrame("bob", "", "1a"), refused("Invalid connection procedure."), drop, false},
        {logonFrame("a b:c"), refused("Names with spaces are not permitted on Murmur."), drop, false},
        {logonFrame("bob:x"), refused(controls), drop, false},
        {logonFrame("bob\x1f"), refused(controls), drop, false},
        {logonFrame(""), refused("You have tried logging in without a name."), drop, true},
        {logonFrame("@bob"), refused(spoof), drop, true},
        {logonFrame("%bob"), refused(spoof), drop, true},
        {logonFrame("BOB"), refused("You have been banned from the server."), close, true,
         "BOB has been banned, and is unable to connect.", "10.0.0.7"},
        {logonFrame("mallory"), frame(3, "You are IPBanned from this server."), stay, true,
         "mallory tried to connect, but they are IPBanned.", "10.0.0.7"},
        {logonFrame("AMY", "b"), refused("The server requires validation. Invalid password."), close, true},
        {logonFrame("amy"), refused("You didn't supply a password for your account."), close, true, "", "10.0.0.1", ""},
        {logonFrame("eve", "x"), refused(trouble), drop, true, accountFile + " could not be read.", "10.0.0.1", "", "users.txt"},
        {logonFrame("eve", "x"), refused(trouble), drop, true, accountFile + " could not be written.", "10.0.0.1", "", "users.txt.tmp"},
        {logonFrame("ALICE"), refused("You tried logging in with a duplicate name."), drop, true},
        {frame(9, "") + logonFrame("bob"), refused("Invalid action prior to logging on. You will be disconnected now."), close, false},
    };
    dir.write("banned.txt", "Bob\r\n");
    dir.write("IPs.txt", "10.0.0.7\r\n");
    dir.write("users.txt", kAccounts);
    server->settings.authentication = "Y";
    int alice = logOn("alice");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        for (const char* name : {"users.txt", "users.txt.tmp"}) std::filesystem::remove_all(dir.file(name));
        if (!c.users.empty()) dir.write("users.txt", c.users);
        if (!c.blocker.empty()) std::filesystem::create_directory(dir.file(c.blocker));
        int conn = connect(c.address);
        auto count = [&, n = static_cast<ConnectionNumber>(conn)] { return server->logonCounts.contains(n) ? *server->logonCounts.find(n) : 0; };
        int before = count();
        std::size_t mark = host.events.size();
        deliver(conn, c.bytes);
        EXPECT_EQ(socket(conn).takeSent(), c.sent);
        Lines events{"send " + std::to_string(socket(conn).id()), "yield"};
        if (c.end != stay) events.push_back("close " + std::to_string(socket(conn).id()));
        EXPECT_EQ(eventsSince(mark), events);
        EXPECT_EQ(socket(conn).state(), c.end == stay ? sckConnected : sckClosed);
        EXPECT_EQ(record(conn) != nullptr, c.end != drop);
        EXPECT_EQ(count() - before, c.counted ? 1 : 0);
        EXPECT_EQ(chatLines(), c.line.empty() ? Lines{} : Lines{c.line});
        EXPECT_TRUE(c.line.empty() || lastLine().pieces[1].colour == colour::red);
        EXPECT_TRUE(received(alice).empty());
        if (c.end == stay) closeKeepingRecord(conn);
    }
    EXPECT_EQ(server->lstUsers, Lines{"alice"});
}

TEST_F(LogonTest, AcceptanceTellsTheUserTheOperatorAndEveryoneElse) {
    int alice = logOn("alice");
    int carl = logOn("carl");
    int stale = logOn("BOB");
    server->users.find(static_cast<ConnectionNumber>(alice))->channel = "mAIN";
    server->users.find(static_cast<ConnectionNumber>(carl))->channel = "Lobby";
    int waiting = connect("10.0.0.3");
    host.ticks = 2000;
    int bob = connect("10.0.0.7");
    closeKeepingRecord(stale);  // no close event: the name's holder is gone but listed
    forgetTraffic();
    host.ticks = 2250;
    std::size_t mark = host.events.size();
    deliver(bob, logonFrame("bob", "ignored", "01"));
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "}, {colour::yellow, "Connection #5 (from "},
        {colour::white, "10.0.0.7"}, {colour::yellow, ") connected to Murmur with the nickname: bob. (250ms ping)"}}));
    EXPECT_EQ(socket(bob).takeSent(), "\x05" "35\0Murmur Server v1.2 by Halden\0normal" "\x0d" "12\0Main\0success"s);
    const Packet loggedOn = packet(1, {"bob", "01", "250"});
    EXPECT_EQ(received(alice), (Packets{loggedOn, {15, "bob"}}));
    EXPECT_EQ(received(carl), Packets{loggedOn});
    EXPECT_EQ(received(waiting), Packets{loggedOn});
    auto on = [&](int c) { return "send " + std::to_string(socket(c).id()); };
    EXPECT_EQ(eventsSince(mark), (Lines{on(bob), "yield", on(bob), on(alice), on(carl), on(waiting), on(alice)}));
    EXPECT_EQ(server->lstUsers, (Lines{"alice", "carl", "bob"}));
    EXPECT_EQ(server->lblUsers, "Total Users: 3");
    EXPECT_EQ(Lines({record(stale)->hasLoggedIn ? "in" : "out", record(stale)->listName}), (Lines{"out", ""}));
    const clsUserData* r = record(bob);
    EXPECT_EQ(Lines({r->hasLoggedIn ? "in" : "out", r->channel, r->authString, r->originalName, r->listName, r->flags,
                     r->product, r->IP, std::to_string(r->ping)}),
              (Lines{"in", "Main", "normal", "bob", "bob", "3", "Murmur Client", "10.0.0.7", "250"}));
    // A second logon on the same connection neither renames nor re-announces.
    deliver(bob, logonFrame("zed"));
    EXPECT_EQ(received(bob).size() + received(alice).size(), 0u);
    EXPECT_EQ(record(bob)->originalName, "bob");
}

TEST_F(LogonTest, StaffGetTheirPrefixAndTheTopOfTheListAndProductsTheirLabel) {
    dir.write("admin.txt", "Root\r\nBob\r\n");
    dir.write("mods.txt", "bob\r\ncarol \r\nMo\r\nmia\r\n");
    logOn("zed");
    logOn("amy");
    connect();  // not logged on: no list name
    struct Case { std::string name, code, rank, flags, shown, product; Lines list; };
    const std::vector<Case> cases = {
        {"mo", "2", "moderator", "2", "@mo (Skiff Plugin)", "Skiff Plugin", {"@mo", "zed", "amy"}},
        {"carol", " 8 ", "normal", "3", "carol (Murmur Queue Slave)", "Murmur Queue Slave", {"@mo", "zed", "amy", "carol"}},
        {"ROOT", "9", "admin", "1", "%ROOT (Quill Client by Quade)", "Quill Client by Quade", {"%ROOT", "@mo", "zed", "amy", "carol"}},
        {"mia", "10", "moderator", "2", "@mia (Unknown client)", "Unknown client", {"%ROOT", "@mo", "@mia", "zed", "amy", "carol"}},
        {"bob", "1.0", "admin", "1", "%bob", "Murmur Client", {"%ROOT", "%bob", "@mo", "@mia", "zed", "amy", "carol"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int conn = connect();
        deliver(conn, logonFrame(c.name, "", c.code));
        EXPECT_EQ(received(conn), (Packets{welcome(c.rank), kJoinedMain}));
        EXPECT_EQ(chatLines(), Lines{"Connection #" + std::to_string(conn + 1) +
                                     " (from 10.0.0.1) connected to Murmur with the nickname: " + c.shown + ". (0ms ping)"});
        const clsUserData* r = record(conn);
        EXPECT_EQ(Lines({r->flags, r->originalName, r->product}), (Lines{c.flags, c.name, c.product}));
        EXPECT_EQ(r->isQueueSharing, c.code == " 8 ");
        EXPECT_EQ(server->lstUsers, c.list);
    }
    dir.write("mods.txt", "Zoe");  // the files are read at every logon
    int zoe = connect();
    deliver(zoe, logonFrame("zoe", "", "1.5"));
    EXPECT_EQ(Lines({record(zoe)->listName, record(zoe)->product}), (Lines{"@zoe", "Unknown client"}));
}

TEST_F(LogonTest, ValidationStoresTheFirstPasswordAndAcceptsOnlyThatOne) {
    server->settings.authentication = "Y";
    std::string accounts = "carl\r\nzed::\r\n";
    dir.write("users.txt", accounts);
    // Name, password, and the line the logon adds to the file.
    const std::vector<std::array<std::string, 3>> cases = {
        {"Bob", "secret", "Bob:v_emim\r\n"}, {"bOB", "secret", ""},
        {"zed", "7", ""},               // everything after the name's colon is the stored form
        {"carl", "a", "carl:d\r\n"},    // a line without a colon is no account
        {"amy", "", "amy:\r\n"},
    };
    for (const auto& [name, password, added] : cases) {
        SCOPED_TRACE(name);
        int conn = connect();
        deliver(conn, logonFrame(name, password));
        Packets expected{welcome("normal"), kJoinedMain};
        if (!added.empty()) expected.insert(expected.begin(), Packet{10, ""});
        EXPECT_EQ(received(conn), expected);
        EXPECT_EQ(dir.read("users.txt"), accounts += added);
        socket(conn).peerCloses();
    }
    // A last line without CR LF is unfinished: no account, and the next one is glued onto it.
    dir.write("users.txt", "last:d");
    deliver(connect(), logonFrame("last", "a"));
    server->settings.authentication = "N";
    deliver(connect(), logonFrame("zed", "wrong"));
    EXPECT_EQ(dir.read("users.txt"), "last:dlast:d\r\n");
    EXPECT_EQ(server->lstUsers, (Lines{"last", "zed"}));
}

}  // namespace
}  // namespace murmur::test
