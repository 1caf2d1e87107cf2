// A connection's life: accepted into the socket array without gaps, its bytes cut into whole
// packets whatever the reads look like, logged on into "Main" or refused with a fixed text and
// ending, and its close reported and cleaned up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>

#include "core/Connections.h"
#include "core/Framing.h"
#include "core/Lookups.h"
#include "core/Membership.h"
#include "protocol/Guesses.h"
#include "protocol/Logon.h"
#include "staff/Accounts.h"
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

class ConnectionsTest : public ServerTest {
protected:
    void SetUp() override { start(); }
    const clsUserData* record(int c) const { return server->users.find(static_cast<ConnectionNumber>(c)); }
    Lines eventsSince(std::size_t mark) const { return {host.events.begin() + static_cast<long>(mark), host.events.end()}; }
    // Packets go to a recorder in place of their handlers, and conn is a fresh connection.
    void recordPackets() {
        server->packetHandler = [this](std::uint8_t id, ConnectionNumber c, std::string_view payload) {
            dispatched.push_back({id, std::string(payload)});
            if (onPacket) onPacket(c);
        };
        conn = connect();
        // Logged on, so that it may send the largest packets.
        server->users.find(static_cast<ConnectionNumber>(conn))->hasLoggedIn = true;
        chatLines();
    }
    Packets dispatched;
    std::function<void(ConnectionNumber)> onPacket;
    int conn = -1;
};
using LogonTest = ConnectionsTest;

TEST_F(ConnectionsTest, PacketsAreDispatchedWholeAndInOrderWhateverTheReads) {
    recordPackets();
    deliver(conn, frame(2, fields({"bob", "hi"})) + frame(9, ""));
    EXPECT_EQ(dispatched, (Packets{packet(2, {"bob", "hi"}), {9, ""}}));
    std::string split = frame(2, fields({"bob", "hello"})) + frame(16, std::string(maxPayloadLength, 'a'));
    deliver(conn, split.substr(0, 2));  // ends inside the length
    deliver(conn, split.substr(2, 20));  // ends inside the largest payload there can be
    EXPECT_EQ(dispatched.size(), 3u);
    deliver(conn, split.substr(22));
    EXPECT_EQ(dispatched.back(), (Packet{16, std::string(maxPayloadLength, 'a')}));
    EXPECT_EQ(dispatched[2], packet(2, {"bob", "hello"}));
}

TEST_F(ConnectionsTest, AForeignIdOrAClosingHandlerEndsTheReadingOfWhatArrived) {
    recordPackets();
    deliver(conn, frame(18, "") + "\x14" + frame(2, fields({"bob", "lost"})));
    deliver(conn, frame(9, ""));
    EXPECT_EQ(dispatched, (Packets{{18, ""}, {9, ""}}));
    EXPECT_EQ(socket(conn).state(), sckConnected);
    onPacket = [this](ConnectionNumber c) { closeKeepingRecord(c); };
    deliver(conn, frame(9, "") + frame(18, ""));
    EXPECT_EQ(dispatched.size(), 3u);
}

TEST_F(ConnectionsTest, UnreadableLengthsAndFailingHandlersEndInTheGeneralRefusal) {
    recordPackets();
    const std::string expected = refusal("Your client is not compatible with this server.") +
                                 refusal("See http://www.example.org/murmur/client/ for the latest client.");
    onPacket = [](ConnectionNumber) { throw ClientFault("no target field"); };
    // Before its logon a client may not even announce a packet of more than 1,024 bytes.
    for (const std::string& bytes : {"\x05x\0abc"s, "\x01" "1025"s, "\x02" "1234567890"s, "\x02\0"s, "\x02-1\0"s, "\x08" "1\0x"s}) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        int c = connect();
        deliver(c, bytes + frame(9, ""));
        EXPECT_EQ(socket(c).takeSent(), expected);
        EXPECT_EQ(chatLines(), Lines{"A poorly developed client has attempted to connect and was refused."});
        EXPECT_EQ(lastLine().pieces[1].colour, colour::red);
        EXPECT_EQ(socket(c).state(), sckClosed);
        EXPECT_FALSE(server->users.contains(static_cast<ConnectionNumber>(c)));
        EXPECT_EQ(socketCount(*server), c + 1);  // no leave notice, and the socket stays loaded
        EXPECT_EQ(socket(conn).takeSent(), "");
    }
    EXPECT_EQ(dispatched, Packets{packet(8, {"x"})});
}

TEST_F(ConnectionsTest, SendPacketPutsOneFrameOnTheWireOnlyForConnectedSockets) {
    int c = connect();
    sendPacket(*server, 4, c, "abc");
    sendPacket(*server, 10, c, "");
    sendPacket(*server, 2, c, "a\0b\xff"s);
    EXPECT_EQ(socket(c).takeSent(), "\x04" "3\0abc" "\x0a" "0\0" "\x02" "4\0a\0b\xff"s);
    closeKeepingRecord(c);
    sendPacket(*server, 4, c, "abc");
    sendPacket(*server, 4, 7, "abc");  // beyond the array
    EXPECT_EQ(socket(c).takeSent(), "");
}

TEST_F(ConnectionsTest, AcceptsTakeTheLowestFreeSocketAndOnlyTheHighestIsDestroyed) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(connect(), i);
    socket(1).peerCloses();
    EXPECT_EQ(socketCount(*server), 3);
    EXPECT_EQ(connect("10.0.0.4"), 1);
    socket(2).peerCloses();
    EXPECT_EQ(socketCount(*server), 2);
    socket(1).peerCloses();
    socket(0).peerCloses();
    EXPECT_EQ(socketCount(*server), 1);  // socket 0 is never destroyed
    EXPECT_EQ(socket(0).state(), sckClosed);
    EXPECT_EQ(connect(), 0);
    // A refusal that closes keeps the record until the next accept replaces it.
    server->users.find(0)->numRequests = 4;
    closeKeepingRecord(0);
    EXPECT_EQ(connect(), 0);
    EXPECT_EQ(server->users.find(0)->numRequests, 0);
}

TEST_F(ConnectionsTest, AClientsCloseIsReportedToTheOperatorAndEveryOtherConnectedClient) {
    int admin = logOn("Admin", "1", "10.0.0.1");
    int bob = logOn("bob", "1", "10.0.0.3");
    int waiting = connect("10.0.0.4");
    int gone = connect("10.0.0.5");
    closeKeepingRecord(gone);
    server->users.find(static_cast<ConnectionNumber>(bob))->listName = "BOB";  // the list entry is found whatever its case
    socket(bob).peerCloses();
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "}, {colour::yellow, "Connection #2 ("},
        {colour::white, "from 10.0.0.3"}, {colour::yellow, ") has logged out of Murmur."}}));
    EXPECT_EQ(received(admin), (Packets{{4, "BOB"}}));
    EXPECT_EQ(received(waiting), (Packets{{4, "BOB"}}));
    EXPECT_EQ(socket(gone).sent, "");
    EXPECT_FALSE(server->users.contains(static_cast<ConnectionNumber>(bob)));
    EXPECT_EQ(server->lstUsers, Lines{"Admin"});
    EXPECT_EQ(server->lblUsers, "Total Users: 1");

    socket(waiting).peerCloses();  // never logged on: an empty name
    EXPECT_EQ(socket(admin).takeSent(), std::string("\x04" "0\0", 3));
}

// One batch of events, as the real host runs a turn of its loop: a broadcast passes the send limit
// of two clients that stopped reading; one of them then leaves and a newcomer takes its socket.
TEST_F(ConnectionsTest, ClientsOverTheSendLimitGoAfterTheBatchAndANewcomerInTheSlotStays) {
    server->limits.sendLimit = 100;
    int alice = logOn("alice"), bob = logOn("bob"), carol = logOn("carol"), dave = logOn("dave");
    for (int stalled : {bob, carol}) {
        socket(stalled).reading = false;
        socket(stalled).backlog = 90;
    }
    const Packet line = packet(2, {"alice", "a line of more than ten bytes"});
    int erin = -1;
    host.runHandler([&] {
        deliver(alice, frame(2, fields({"alice", "a line of more than ten bytes"})));
        EXPECT_EQ(socket(bob).state(), sckConnected);  // nobody goes in the middle of the walk
        EXPECT_EQ(received(dave), Packets{line});      // and later clients still get the line
        deliver(dave, frame(2, fields({"dave", "more"})));  // nothing more for a client over the limit
        socket(carol).peerCloses();
        erin = connect("10.0.0.9");
        deliver(erin, frame(1, fields({"erin", "", "1"})));
    });
    EXPECT_EQ(erin, carol);
    const clsUserData* newcomer = server->users.find(static_cast<ConnectionNumber>(erin));
    ASSERT_TRUE(newcomer && newcomer->hasLoggedIn);
    EXPECT_EQ(socket(erin).state(), sckConnected);
    EXPECT_EQ(socket(bob).state(), sckClosed);
    EXPECT_FALSE(server->users.contains(static_cast<ConnectionNumber>(bob)));
    EXPECT_EQ(decode(socket(bob).takeSent()), Packets{line});
    EXPECT_EQ(chatLines(), (Lines{"<alice (Channel: Main)> a line of more than ten bytes", "<dave (Channel: Main)> more",
                                  "Connection #3 (from 10.0.0.1) has logged out of Murmur.",
                                  "Connection #3 (from 10.0.0.9) connected to Murmur with the nickname: erin. (0ms ping)",
                                  "Connection #2 (from 10.0.0.1) has logged out of Murmur."}));
    EXPECT_EQ(received(dave), (Packets{packet(4, {"carol"}), packet(1, {"erin", "1", "0"}), {15, "erin"}, packet(4, {"bob"})}));
    EXPECT_EQ(server->lstUsers, (Lines{"alice", "dave", "erin"}));
}

// A turn of the loop serves every client with input once, each with a bounded piece, so that one
// client streaming its largest packets leaves the others' requests answered in the same turn.
TEST_F(ConnectionsTest, EachTurnTakesABoundedPieceFromEveryClientWithInput) {
    int streamer = logOn("streamer"), asker = logOn("asker"), waiting = connect("10.0.0.3");
    const std::string reply = frame(11, std::string(10000, 'x'));  // 10,007 bytes
    std::string stream;
    for (int i = 0; i < 10; ++i) stream += reply;
    socket(streamer).arrive(stream);
    socket(waiting).arrive(std::string(5000, '\x01'));  // never a packet: read 1,030 bytes at most, then refused
    socket(asker).arrive(frame(17, ""));
    ASSERT_EQ(host.turn(), 3);
    EXPECT_EQ(socket(streamer).unread(), stream.size() - inputPerTurn);
    EXPECT_EQ(record(streamer)->numReplies, 1);
    EXPECT_EQ(received(asker).size(), 1u);
    EXPECT_EQ(server->sckRecv[static_cast<std::size_t>(streamer)].pending.size(), inputPerTurn - reply.size());
    EXPECT_EQ(socket(waiting).state(), sckClosed);
    EXPECT_EQ(socket(waiting).unread(), 5000u - 1030u);
    int turns = 1;
    while (host.turn() > 0) ++turns;
    EXPECT_EQ(turns, 7);  // 100,070 bytes, 16 KiB a turn
    EXPECT_EQ(record(streamer)->numReplies, 10);
    EXPECT_TRUE(server->sckRecv[static_cast<std::size_t>(streamer)].pending.empty());
}

// A client whose packets fill another's queue past the high-water mark is not read until that one
// has taken most of it; one that takes nothing for the stall time holds nobody back and goes at
// the send limit.
TEST_F(ConnectionsTest, SendersWaitForReadersThatKeepReadingButNotForOnesThatStopped) {
    int talker = logOn("talker"), reader = logOn("reader"), bystander = logOn("bystander");
    FakeSocket& slow = socket(reader);
    slow.reading = false;
    slow.backlog = outputHighWater;
    const std::string line = frame(2, fields({"talker", "a line"}));
    socket(talker).arrive(line + line);
    host.turn();
    EXPECT_EQ(received(bystander).size(), 2u);  // a piece is handled whole
    socket(talker).arrive(line);
    host.turn();
    EXPECT_EQ(socket(talker).unread(), line.size());  // held back
    EXPECT_TRUE(received(bystander).empty());
    slow.taken += outputHighWater - outputLowWater;  // it reads, but not yet below the low-water mark
    slow.backlog = outputLowWater + 1;
    host.turn();
    EXPECT_EQ(socket(talker).unread(), line.size());
    slow.catchUp();
    host.turn();
    EXPECT_EQ(socket(talker).unread(), 0u);
    EXPECT_EQ(received(bystander).size(), 1u);

    // Now it takes nothing at all.
    slow.reading = false;
    slow.backlog = outputHighWater;
    socket(talker).arrive(line);
    host.turn();
    socket(talker).arrive(line);
    host.ticks += outputStallMs - 1;
    host.turn();
    EXPECT_EQ(socket(talker).unread(), line.size());
    host.ticks += 1;
    server->limits.sendLimit = outputHighWater + line.size() + 1;
    host.turn();  // stalled: the talker is read again, and its line takes the reader past the limit
    EXPECT_EQ(socket(talker).unread(), 0u);
    EXPECT_EQ(slow.state(), sckClosed);
    EXPECT_EQ(received(bystander).back(), packet(4, {"reader"}));
}

// When an address holds its most, a newcomer from it takes the place of its oldest connection that
// has not logged on; when the server is full, first of a connection still closing, then of the
// oldest that has not logged on from anywhere. Whoever makes way is reset, without a word.
TEST_F(ConnectionsTest, NewcomersDisplaceTheOldestConnectionsThatHaveNotLoggedOn) {
    server->limits.maxPerAddress = 2;
    int a1 = connect("10.0.0.1"), b1 = connect("10.0.0.2"), a2 = connect("10.0.0.1");
    int alice = logOn("alice", "1", "10.0.0.2");
    EXPECT_EQ(connect("10.0.0.2"), b1);  // not a1, which is older but from elsewhere
    EXPECT_EQ(socket(b1).resets, 1);
    EXPECT_EQ(socket(a2).state(), sckConnected);
    EXPECT_EQ(connect("10.0.0.1"), a1);
    EXPECT_EQ(socket(a1).resets, 1);

    server->limits.maxConnections = 4;
    host.closing = 1;
    EXPECT_EQ(connect("10.0.0.5"), a2);
    EXPECT_EQ(host.closingResets, 1);
    EXPECT_EQ(socket(a2).resets, 1);
    for (int c = 0; c < socketCount(*server); ++c)
        if (c != alice) deliver(c, logonFrame("user" + std::to_string(c)));
    EXPECT_EQ(host.connect("10.0.0.6"), nullptr);  // everybody has logged on: refused, with a reset
    EXPECT_EQ(static_cast<FakeListener&>(host.listener()).rejected.size(), 1u);
    EXPECT_EQ(socketCount(*server), 4);

    server->limits.maxConnections = 10;
    int late = connect("10.0.0.7");
    std::string id = std::to_string(socket(late).id());
    host.events.clear();
    host.ticks += 30000;
    timer(server->logonTimer).fire();
    EXPECT_EQ(host.events, Lines{"reset " + id});  // and the socket, the highest, left the array
    EXPECT_EQ(socketCount(*server), late);

    // An IPv6 host counts by its /64: a fresh address of the same network is no escape.
    int v1 = connect("2001:db8::1");
    connect("2001:db8::2");
    EXPECT_EQ(connect("2001:db8::3"), v1);
    EXPECT_EQ(socket(v1).resets, 1);
}

TEST(PasswordHash, EachCharacterWalksItsKeyEntryAndWrapsPastTheEnds) {
    for (const auto& [plain, stored] : std::vector<std::pair<std::string, std::string>>{
             {"ab", "d\\"}, {"password", "s[un{hu^"}, {"\xfe", "6"}, {"ab\xfd", "d\\48"}, {"x\x06", "{50"}, {"abcdef\xfc", "d\\e_i_48"}})
        EXPECT_EQ(hashPassword(plain), stored) << plain;
    for (const char* stored : {"a\rb", "\n", "x\r\nboss:sq"}) EXPECT_FALSE(isStorable(hashPassword(passwordFor(stored))));
    EXPECT_TRUE(isStorable("d\\48:"));
}

TEST(AccountFile, AccountsAreFoundSetAndRemovedAndEveryOtherByteStays) {
    const std::string text = "carl\r\nBob:old\r\nzed::\r\nbob:second\r\nlast:d";
    EXPECT_EQ(findAccount(text, "BOB"), "old");
    EXPECT_EQ(findAccount(text, "zed"), ":");
    EXPECT_EQ(findAccount(text, "carl"), std::nullopt);  // no colon: no account
    EXPECT_EQ(findAccount(text, "last"), std::nullopt);  // no line end: not finished
    EXPECT_EQ(withPassword(text, "bob", "new"), "carl\r\nBob:new\r\nzed::\r\nbob:second\r\nlast:d");
    EXPECT_EQ(withPassword("a:b\r\n", "amy", "x"), "a:b\r\namy:x\r\n");
    int removed = 0;
    EXPECT_EQ(withoutAccount(text, "BOB", removed), "carl\r\nzed::\r\nlast:d");
    EXPECT_EQ(removed, 2);
    EXPECT_EQ(withoutAccount("a:b\r\n", "x", removed), "a:b\r\n");
    EXPECT_EQ(removed, 0);
}

TEST(AccountFile, EveryChangeWaitsForTheLockAndRewritesTheFileWhole) {
    TempDir dir;
    auto add = [&](const std::string& line) {
        return changeAccounts(dir.path(), std::chrono::milliseconds(0), [&](std::string& text, bool) {
            text += line;
            return true;
        });
    };
    EXPECT_EQ(add("a:b\r\n"), AccountChange::written);
    ::chmod(dir.file("users.txt").c_str(), 0600);
    int holder = ::open(dir.file("users.txt.lock").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);  // another process in the middle of its change
    EXPECT_EQ(add("c:d\r\n"), AccountChange::busy);
    ::close(holder);
    EXPECT_EQ(add("c:d\r\n"), AccountChange::written);
    EXPECT_EQ(dir.read("users.txt"), "a:b\r\nc:d\r\n");
    struct stat st {};
    ::stat(dir.file("users.txt").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // the rewrite keeps the file's mode
    EXPECT_EQ(changeAccounts(dir.path(), std::chrono::milliseconds(0), [](std::string&, bool) { return false; }),
              AccountChange::unchanged);
}

TEST(AccountFile, TheServersCopyFollowsItsOwnAppendsAndEveryChangeOnDisk) {
    TempDir dir;
    AccountCache cache;
    auto stored = [&](const std::string& name) { return lookUpAccount(cache, dir.path(), name).stored; };
    auto add = [&](const std::string& name, std::optional<std::string>& found) {
        return addAccount(cache, dir.path(), std::chrono::milliseconds(0), name, "pw", found);
    };
    std::optional<std::string> found;
    AccountLookup none = lookUpAccount(cache, dir.path(), "bob");
    EXPECT_TRUE(none.readable && !none.present && !none.stored);
    dir.write("users.txt", "Bob:old\r\nbob:second\r\nlast:d");
    EXPECT_EQ(stored("BOB"), "old");
    EXPECT_EQ(stored("last"), std::nullopt);
    // A new account ends an unfinished last line first, which then counts.
    EXPECT_EQ(add("amy", found), AccountChange::written);
    EXPECT_EQ(stored("last"), "d");
    EXPECT_EQ(stored("amy"), "pw");
    EXPECT_EQ(add("bob", found), AccountChange::unchanged);
    EXPECT_EQ(found, "old");
    for (int i = 0; i < 1100; ++i) ASSERT_EQ(add("n" + std::to_string(i), found), AccountChange::written);
    EXPECT_EQ(stored("N0"), "pw");
    EXPECT_EQ(stored("n1099"), "pw");
    EXPECT_EQ(stored("n1100"), std::nullopt);
    std::string text = dir.read("users.txt");
    EXPECT_TRUE(text.starts_with("Bob:old\r\nbob:second\r\nlast:d\r\namy:pw\r\nn0:pw\r\n")) << text.substr(0, 60);
    EXPECT_TRUE(text.ends_with("\r\nn1098:pw\r\nn1099:pw\r\n"));
    // Another process's whole rewrite, and a hand edit in place to the same size, are both seen.
    EXPECT_EQ(changeAccounts(dir.path(), std::chrono::milliseconds(0), [](std::string& now, bool) {
                  now = "n0:zz\r\n" + now;
                  return true;
              }), AccountChange::written);
    EXPECT_EQ(stored("n0"), "zz");
    dir.write("users.txt", "Bob:new\r\n");
    EXPECT_EQ(stored("bob"), "new");
    EXPECT_EQ(stored("n1"), std::nullopt);
    std::filesystem::remove(dir.file("users.txt"));
    std::filesystem::create_directory(dir.file("users.txt"));
    EXPECT_FALSE(lookUpAccount(cache, dir.path(), "bob").readable);
    EXPECT_EQ(add("carl", found), AccountChange::unreadable);
}

TEST_F(LogonTest, EveryRefusalHasItsTextAndItsEnding) {
    enum End { drop, close, stay };  // closed and the record gone; closed, the record kept; only told
    struct Case {
        std::string bytes, sent; End end; bool counted;  // counted towards load control
        Lines lines; std::string address = "10.0.0.1", users = kAccounts, blocker = "";
    };
    auto why = [](const std::string& name, const std::string& reason, const std::string& address = "10.0.0.1") {
        return "Logon refused for " + name + " from " + address + ": " + reason + ".";
    };
    const std::string spoof = "Trying to spoof a mod / admin (don't use \"@\" or \"%\" to the left of your name)";
    const std::string controls = "Names with control characters or colons are not permitted on Murmur.";
    const std::string trouble = "The server could not check or store your account. Please try again later.";
    const std::string accountFile = "The account file " + dir.file("users.txt");
    const std::vector<Case> cases = {
        {frame(1, fields({"bob", "pw"})), refusal("Your client is not compatible with this server."), close, false,
         {why("bob", "unreadable logon")}},
        {logonFrame("bob", "", "1a"), refused("Invalid connection procedure."), drop, false,
         {why("bob", "invalid connection procedure")}},
        {logonFrame("a b:c"), refused("Names with spaces are not permitted on Murmur."), drop, false,
         {why("a b:c", "space in the name")}},
        {logonFrame("bob:x"), refused(controls), drop, false, {why("bob:x", "control character or colon in the name")}},
        {logonFrame("bob\x1f"), refused(controls), drop, false, {why("bob\x1f", "control character or colon in the name")}},
        {logonFrame(std::string(33, 'n')), refused("Names longer than 32 characters are not permitted on Murmur."), drop, false,
         {why(std::string(33, 'n'), "name too long")}},
        {logonFrame(""), refused("You have tried logging in without a name."), drop, true, {why("", "no name")}},
        {logonFrame("@bob"), refused(spoof), drop, true, {why("@bob", "staff prefix in the name")}},
        {logonFrame("%bob"), refused(spoof), drop, true, {why("%bob", "staff prefix in the name")}},
        {logonFrame("BOB"), refused("You have been banned from the server."), close, true,
         {"BOB has been banned, and is unable to connect.", why("BOB", "banned name", "10.0.0.7")}, "10.0.0.7"},
        {logonFrame("mallory"), frame(3, "You are IPBanned from this server."), stay, true,
         {"mallory tried to connect, but they are IPBanned.", why("mallory", "banned address", "10.0.0.7")}, "10.0.0.7"},
        {logonFrame("AMY", "b"), refused("The server requires validation. Invalid password."), close, true,
         {why("AMY", "invalid password")}},
        {logonFrame("amy"), refused("You didn't supply a password for your account."), close, true,
         {why("amy", "no password")}, "10.0.0.1", ""},
        {logonFrame("boss", "pw"), refused("This name is reserved for staff. Ask the operator to set its password."), close,
         true, {why("boss", "name reserved for staff")}},
        {logonFrame("mallory", passwordFor("x\r\nboss:sq")), refused("That password cannot be stored. Please choose another."),
         drop, true, {why("mallory", "password cannot be stored")}},
        {logonFrame("eve", "x"), refused(trouble), drop, true,
         {accountFile + " could not be read.", why("eve", "account file unusable")}, "10.0.0.1", "", "users.txt"},
        {logonFrame("eve", "x"), refused(trouble), drop, true,
         {accountFile + " could not be written.", why("eve", "account file unusable")}, "10.0.0.1", "", "users.txt.lock"},
        {logonFrame("ALICE"), refused("You tried logging in with a duplicate name."), drop, true,
         {why("ALICE", "duplicate name")}},
        {frame(9, "") + logonFrame("bob"), refused("Invalid action prior to logging on. You will be disconnected now."), close,
         false, {}},
    };
    dir.write("banned.txt", "Bob\r\n");
    dir.write("IPs.txt", "10.0.0.7\r\n");
    dir.write("users.txt", kAccounts);
    dir.write("admin.txt", "Boss\r\n");
    server->settings.authentication = "Y";
    int alice = logOn("alice");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        for (const char* name : {"users.txt", "users.txt.lock"}) std::filesystem::remove_all(dir.file(name));
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
        EXPECT_EQ(chatLines(), c.lines);
        EXPECT_TRUE(c.lines.empty() || lastLine().pieces[1].colour == colour::red);
        EXPECT_EQ(dir.read("users.txt"), c.users);
        EXPECT_TRUE(received(alice).empty());
        if (c.end == stay) closeKeepingRecord(conn);
    }
    EXPECT_EQ(server->lstUsers, Lines{"alice"});
}

TEST_F(LogonTest, AcceptanceTellsTheUserTheOperatorAndEveryoneElse) {
    int alice = logOn("alice");
    int carl = logOn("carl");
    int stale = logOn("BOB");
    enterChannel(*server, static_cast<ConnectionNumber>(alice), *server->users.find(static_cast<ConnectionNumber>(alice)), "mAIN");
    enterChannel(*server, static_cast<ConnectionNumber>(carl), *server->users.find(static_cast<ConnectionNumber>(carl)), "Lobby");
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
    // A member of Main gets both notices in one send.
    EXPECT_EQ(eventsSince(mark), (Lines{on(bob), "yield", on(bob), on(alice), on(carl), on(waiting)}));
    EXPECT_EQ(server->lstUsers, (Lines{"alice", "carl", "bob"}));
    EXPECT_EQ(server->lblUsers, "Total Users: 3");
    EXPECT_EQ(Lines({record(stale)->hasLoggedIn ? "in" : "out", record(stale)->listName}), (Lines{"out", ""}));
    // A second logon on the same connection neither renames nor re-announces.
    deliver(bob, logonFrame("zed"));
    EXPECT_EQ(received(bob).size() + received(alice).size(), 0u);
    EXPECT_EQ(record(bob)->originalName, "bob");
}

TEST_F(LogonTest, StaffGetTheirPrefixAndTheTopOfTheListAndProductsTheirLabel) {
    writeStaff("admin.txt", {"Root", "Bob"});
    writeStaff("mods.txt", {"bob", "carol ", "Mo", "mia"});
    logOn("zed");
    logOn("amy");
    connect();  // not logged on: no list name
    struct Case { std::string name, code, rank, shown; Lines list; };
    const std::vector<Case> cases = {
        {"mo", "2", "moderator", "@mo (Skiff Plugin)", {"@mo", "zed", "amy"}},
        {"carol", " 8 ", "normal", "carol (Murmur Queue Slave)", {"@mo", "zed", "amy", "carol"}},
        {"ROOT", "9", "admin", "%ROOT (Quill Client by Quade)", {"%ROOT", "@mo", "zed", "amy", "carol"}},
        {"mia", "10", "moderator", "@mia (Unknown client)", {"%ROOT", "@mo", "@mia", "zed", "amy", "carol"}},
        {"bob", "1.0", "admin", "%bob", {"%ROOT", "%bob", "@mo", "@mia", "zed", "amy", "carol"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int conn = connect();
        deliver(conn, logonFrame(c.name, staffPassword, c.code));
        EXPECT_EQ(received(conn), (Packets{welcome(c.rank), kJoinedMain}));
        EXPECT_EQ(chatLines(), Lines{"Connection #" + std::to_string(conn + 1) +
                                     " (from 10.0.0.1) connected to Murmur with the nickname: " + c.shown + ". (0ms ping)"});
        EXPECT_EQ(server->lstUsers, c.list);
    }
    writeStaff("mods.txt", {"Zoe"});  // the files are read at every logon
    int zoe = connect();
    deliver(zoe, logonFrame("zoe", staffPassword, "1.5"));
    EXPECT_EQ(Lines({record(zoe)->listName, record(zoe)->product}), (Lines{"@zoe", "Unknown client"}));
}

// A name on a roster gets its rank only with the password of its account, validation on or off;
// with validation off no other name reads the account file.
TEST_F(LogonTest, StaffRankNeedsThePasswordOfTheAccount) {
    dir.write("admin.txt", "Boss\r\n");
    dir.write("mods.txt", "Mo\r\namy\r\n");
    const std::string accounts = "boss:" + hashPassword("secret") + "\r\nAmy:\r\n";
    struct Case { std::string validation, name, password, answer; bool redLine; std::string users = ""; };
    const std::string reserved = "This name is reserved for staff. Ask the operator to set its password.";
    const std::vector<Case> cases = {
        {"N", "BOSS", "secret", "admin", false},
        {"N", "boss", "", "normal", true},
        {"N", "boss", "Secret", "normal", true},
        {"N", "Mo", "secret", "normal", true},   // no account
        {"N", "amy", "", "normal", true},        // an empty password proves nothing
        {"N", "zed", "secret", "normal", false},
        {"Y", "boss", "secret", "admin", false},
        {"Y", "boss", "", "The server requires validation. Invalid password.", false},
        {"Y", "mo", "secret", reserved, false},
        {"Y", "amy", "", "normal", true},
        {"Y", "zed", "pw", "normal", false, accounts + "zed:" + hashPassword("pw") + "\r\n"},
    };
    int from = 0;  // an address each, so that the wrong passwords are not slowed
    for (const Case& c : cases) {
        SCOPED_TRACE(c.validation + " " + c.name + " " + c.password);
        dir.write("users.txt", accounts);
        server->settings.authentication = c.validation;
        int conn = connect("10.0.1." + std::to_string(++from));
        deliver(conn, logonFrame(c.name, c.password));
        Packets got = received(conn);
        if (c.answer == "admin" || c.answer == "normal") {
            ASSERT_FALSE(got.empty());
            EXPECT_EQ(got.back(), kJoinedMain);
            EXPECT_EQ(got.end()[-2], welcome(c.answer));
            EXPECT_EQ(record(conn)->listName, (c.answer == "admin" ? "%" : "") + c.name);
        } else {
            EXPECT_EQ(got, Packets{packet(3, {c.answer, "0"})});
        }
        Lines lines = chatLines();
        std::string red = c.name + " is on the staff roster but gave no valid password; logged on without staff rights.";
        EXPECT_EQ(!lines.empty() && lines.back() == red, c.redLine) << testing::PrintToString(lines);
        EXPECT_EQ(dir.read("users.txt"), c.users.empty() ? accounts : c.users);
        socket(conn).peerCloses();
    }
    // Only a staff name reads the file: an unreadable one troubles nobody else.
    std::filesystem::remove(dir.file("users.txt"));
    std::filesystem::create_directory(dir.file("users.txt"));
    server->settings.authentication = "N";
    logOn("zed");
    deliver(connect(), logonFrame("boss", "secret"));
    EXPECT_EQ(chatLines(), (Lines{"The account file " + dir.file("users.txt") + " could not be read.",
                                  "Connection #2 (from 10.0.0.1) connected to Murmur with the nickname: boss. (0ms ping)",
                                  "boss is on the staff roster but gave no valid password; logged on without staff rights."}));
}

// Five wrong passwords from one address within a minute shut it out for a minute, before the
// account file is read; wrong staff passwords with validation off count too.
TEST_F(LogonTest, WrongPasswordsFromOneAddressAreSlowed) {
    dir.write("admin.txt", "Boss\r\n");
    dir.write("users.txt", "bob:" + hashPassword("right") + "\r\nboss:" + hashPassword("right") + "\r\n");
    server->settings.authentication = "Y";
    const std::string invalid = refused("The server requires validation. Invalid password.");
    const std::string wait = refused("Too many failed logons. Please wait a minute and try again.");
    auto attempt = [&](const std::string& address, const std::string& name, const std::string& password) {
        int conn = connect(address);
        deliver(conn, logonFrame(name, password));
        std::string sent = socket(conn).takeSent();
        if (record(conn) && record(conn)->hasLoggedIn) socket(conn).peerCloses();
        return sent.rfind(invalid, 0) == 0 ? "invalid" : sent == wait ? "wait" : decode(sent).size() == 2 ? "in" : sent;
    };
    std::vector<std::string> answers;
    for (int i = 0; i < 4; ++i) answers.push_back(attempt("10.0.0.1", "bob", "guess" + std::to_string(i)));
    host.ticks += 60000;  // the first four are out of the window
    for (int i = 0; i < 5; ++i) answers.push_back(attempt("10.0.0.1", "bob", "again" + std::to_string(i)));
    answers.push_back(attempt("10.0.0.1", "bob", "right"));
    answers.push_back(attempt("10.0.0.2", "bob", "wrong"));  // another address is not affected
    answers.push_back(attempt("10.0.0.2", "bob", "right"));
    EXPECT_EQ(answers, (Lines{"invalid", "invalid", "invalid", "invalid", "invalid", "invalid", "invalid", "invalid",
                              "invalid", "wait", "invalid", "in"}));
    chatLines();
    std::filesystem::create_directory(dir.file("users.txt.keep"));
    std::filesystem::rename(dir.file("users.txt"), dir.file("users.txt.keep/users.txt"));
    std::filesystem::create_directory(dir.file("users.txt"));  // the answer does not read it
    EXPECT_EQ(attempt("10.0.0.1", "newbie", "pw"), "wait");
    EXPECT_EQ(chatLines(), Lines{"Logon refused for newbie from 10.0.0.1: too many failed logons."});
    std::filesystem::remove(dir.file("users.txt"));
    std::filesystem::rename(dir.file("users.txt.keep/users.txt"), dir.file("users.txt"));
    host.ticks += 59999;
    EXPECT_EQ(attempt("10.0.0.1", "bob", "right"), "wait");
    host.ticks += 1;
    EXPECT_EQ(attempt("10.0.0.1", "bob", "right"), "in");

    server->settings.authentication = "N";
    for (int i = 0; i < 5; ++i) EXPECT_EQ(attempt("10.0.0.3", "boss", "guess"), "in") << i;  // as a normal user
    EXPECT_EQ(attempt("10.0.0.3", "zed", ""), "wait");
    EXPECT_EQ(attempt("10.0.0.4", "boss", ""), "in");  // no password is no guess
}

TEST(GuessThrottle, AddressesAreCountedByHostAndTheTableForgetsTheStalestFirst) {
    EXPECT_EQ(hostKey("10.0.0.7"), "10.0.0.7");
    EXPECT_EQ(hostKey("2001:db8:0:12:abcd::5"), "2001:db8:0:12::/64");
    EXPECT_EQ(hostKey("2001:DB8:0:12::6"), "2001:db8:0:12::/64");
    FakeHost host;
    Server server(host, "");
    for (int i = 0; i <= static_cast<int>(GuessLimits::addresses); ++i)
        countWrongPassword(server, "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
                                       std::to_string(i % 256));
    EXPECT_EQ(server.failedLogons.count(), GuessLimits::addresses);
    EXPECT_FALSE(server.failedLogons.contains("10.0.0.0"));
    countWrongPassword(server, "10.0.0.1");  // its latest guess makes it the freshest
    countWrongPassword(server, "10.1.0.0");
    EXPECT_EQ(server.failedLogons.count(), GuessLimits::addresses);
    EXPECT_FALSE(server.failedLogons.contains("10.0.0.2"));
    EXPECT_EQ(server.failedLogons.find("10.0.0.1")->ticks.size(), 2u);
    host.ticks += GuessLimits::windowMs;
    countWrongPassword(server, "10.0.0.9");
    EXPECT_EQ(server.failedLogons.count(), 1u);  // the others have expired
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
    // A last line without CR LF is unfinished: no account; the next one gets a line of its own,
    // and the ended line is an account from then on.
    dir.write("users.txt", "last:d");
    int last = connect();
    deliver(last, logonFrame("last", "b"));
    EXPECT_EQ(dir.read("users.txt"), "last:d\r\nlast:e\r\n");
    socket(last).peerCloses();
    chatLines();
    deliver(connect(), logonFrame("last", "b"));
    EXPECT_EQ(chatLines().back(), "Logon refused for last from 10.0.0.1: invalid password.");
    deliver(connect(), logonFrame("last", "a"));
    server->settings.authentication = "N";
    deliver(connect(), logonFrame("zed", "wrong"));
    EXPECT_EQ(dir.read("users.txt"), "last:d\r\nlast:e\r\n");
    EXPECT_EQ(server->lstUsers, (Lines{"last", "zed"}));
}

}  // namespace
}  // namespace murmur::test
