// Questions a client asks about users, keep-alive answers, the Tic-Tac-Toe relay and the turns of
// the queue sharers.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "core/Branding.h"
#include "core/Connections.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using namespace std::string_literals;

const std::string kPoorClient = "A poorly developed client has attempted to connect and was refused.";
const std::string kBothRefusals = refusal("Your client is not compatible with this server.") +
                                  refusal("See "s + branding::clientPageAddress + " for the latest client.");

class RequestsTest : public ServerTest {
protected:
    void SetUp() override { start(); }

    void query(int c, const std::vector<std::string>& parts) { deliver(c, frame(8, fields(parts))); }

    // Every connection that was sent something since the last look, with what it got.
    std::vector<std::pair<int, std::vector<Packet>>> traffic() {
        std::vector<std::pair<int, std::vector<Packet>>> out;
        for (int i = 0; i < socketCount(*server); ++i) {
            std::vector<Packet> packets = received(i);
            if (!packets.empty()) out.emplace_back(i, std::move(packets));
        }
        return out;
    }

    // The connection ended in the refusal of a client whose data cannot be handled.
    void expectRefused(int c) {
        EXPECT_EQ(socket(c).takeSent(), kBothRefusals);
        EXPECT_EQ(socket(c).state(), sckClosed);
        EXPECT_FALSE(server->users.contains(static_cast<ConnectionNumber>(c)));
    }
};

TEST_F(RequestsTest, InfoRequestTellsPingProductAndChannelOfTheFirstHolder) {
    int a = connect();
    host.ticks += 42;
    deliver(a, frame(1, fields({"alice", "", "9"})));
    int b = logOn("bob");

    deliver(b, frame(7, "ALICE"));
    EXPECT_EQ(received(b), std::vector<Packet>{packet(7, {"alice", "42|Quill Client by Quade|Main"})});
    deliver(a, frame(12, fields({"alice", "Lobby"})));
    EXPECT_EQ(received(b), std::vector<Packet>{packet(12, {"alice"})});
    deliver(b, frame(7, "alice"));
    EXPECT_EQ(received(b), std::vector<Packet>{packet(7, {"alice", "42|Quill Client by Quade|Lobby"})});

    // The whole payload is the name, NULs and all.
    deliver(b, frame(7, "zed"));
    deliver(b, frame(7, fields({"alice", "x"})));
    EXPECT_EQ(received(b), (std::vector<Packet>{packet(3, {"Request error: user not found.", "0"}),
                                                packet(3, {"Request error: user not found.", "0"})}));

    // A connection not logged on holds the empty name.
    connect();
    deliver(b, frame(7, ""));
    EXPECT_EQ(received(b), std::vector<Packet>{packet(7, {"", "0||"})});
}

TEST_F(RequestsTest, GameQueriesReachEveryHolderOfTheTargetName) {
    int a = logOn("alice");
    int b = logOn("bob");
    int c = logOn("carol");

    query(a, {"BOARD Move", "bob", "cell 7"});
    EXPECT_EQ(traffic(), (std::vector<std::pair<int, std::vector<Packet>>>{
                             {b, {packet(8, {"board move", "alice", "7"})}}}));
    EXPECT_EQ(chatLines(), std::vector<std::string>{"Tic-Tac-Toe Query: BOARD Move from alice to bob len: 3"});
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::green, "Tic-Tac-Toe Query: BOARD Move from alice to bob len: 3"}));

    query(a, {"board move", "BOB", "centre"});
    query(a, {"board move", "bob", "r1c2"});
    query(a, {"board move", "bob", "32767"});
    EXPECT_EQ(received(b), (std::vector<Packet>{packet(8, {"board move", "alice", "0"}),
                                                packet(8, {"board move", "alice", "12"}),
                                                packet(8, {"board move", "alice", "32767"})}));

    query(a, {"start prepare", "bob", "O"});
    query(a, {"Start Prepare", "bob", "o"});
    query(a, {"START PREPARE", "bob", "X"});
    EXPECT_EQ(received(b), (std::vector<Packet>{packet(8, {"start prepare", "alice", "X"}),
                                                packet(8, {"Start Prepare", "alice", "O"}),
                                                packet(8, {"START PREPARE", "alice", "O"})}));

    query(a, {"Invite Me", "bob"});
    query(a, {"resign", "bob", "ignored"});
    EXPECT_EQ(received(b), (std::vector<Packet>{packet(8, {"Invite Me", "alice"}), packet(8, {"resign", "alice"})}));
    chatLines();

    // Byte 18 is taken out of the target before anything else.
    query(a, {"resign", "\x12" "b\x12ob", "x"});
    EXPECT_EQ(received(b), std::vector<Packet>{packet(8, {"resign", "alice"})});
    EXPECT_EQ(chatLines(), std::vector<std::string>{"Tic-Tac-Toe Query: resign from alice to bob len: 3"});

    // Every record holding the name gets it, the asker too; nobody holding it means nobody hears.
    server->users.find(static_cast<ConnectionNumber>(c))->originalName = "BOB";
    query(c, {"resign", "bob"});
    EXPECT_EQ(traffic(), (std::vector<std::pair<int, std::vector<Packet>>>{
                             {b, {packet(8, {"resign", "BOB"})}}, {c, {packet(8, {"resign", "BOB"})}}}));
    query(a, {"resign", "alice"});
    EXPECT_EQ(traffic(), (std::vector<std::pair<int, std::vector<Packet>>>{{a, {packet(8, {"resign", "alice"})}}}));
    chatLines();
    query(a, {"board move", "zed"});
    EXPECT_EQ(traffic(), (std::vector<std::pair<int, std::vector<Packet>>>{}));
    EXPECT_EQ(chatLines(), std::vector<std::string>{"Tic-Tac-Toe Query: board move from alice to zed len: 3"});
}

TEST_F(RequestsTest, UnreadableGameQueriesEndTheAskersConnection) {
    logOn("bob");

    int a = logOn("alice");
    deliver(a, frame(8, "resign"));
    EXPECT_EQ(chatLines(), std::vector<std::string>{kPoorClient});
    expectRefused(a);

    a = logOn("alice");
    query(a, {"Board Move", "bob"});
    EXPECT_EQ(chatLines(), (std::vector<std::string>{"Tic-Tac-Toe Query: Board Move from alice to bob len: 3",
                                                     kPoorClient}));
    expectRefused(a);

    a = logOn("alice");
    query(a, {"start prepare", "bob"});
    expectRefused(a);

    a = logOn("alice");
    query(a, {"board move", "bob", "32768"});
    expectRefused(a);

    EXPECT_EQ(received(0), std::vector<Packet>{});
}

TEST_F(RequestsTest, KeepAliveRepliesAreCountedUpToTheLargestCount) {
    int a = logOn("alice");
    deliver(a, frame(11, ""));
    deliver(a, frame(11, "anything at all"));
    EXPECT_EQ(server->users.find(static_cast<ConnectionNumber>(a))->numReplies, 2);
    server->users.find(static_cast<ConnectionNumber>(a))->numReplies = 32767;
    deliver(a, frame(11, ""));
    EXPECT_EQ(server->users.find(static_cast<ConnectionNumber>(a))->numReplies, 32767);
    EXPECT_EQ(socket(a).takeSent(), "");
}

TEST_F(RequestsTest, NameLookupAnswersTheUserListEntryWithoutPrefixes) {
    int a = logOn("alice");
    server->lstUsers = {"%Alice", "@bob", "Ca@r%ol", "carol"};

    deliver(a, frame(16, "alice"));
    deliver(a, frame(16, "CAROL"));
    deliver(a, frame(16, "BOB"));
    deliver(a, frame(16, "@bob"));
    deliver(a, frame(16, "zed"));
    EXPECT_EQ(received(a), (std::vector<Packet>{packet(16, {"Alice"}), packet(16, {"Carol"}), packet(16, {"bob"}),
                                                packet(16, {"%NULL%"}), packet(16, {"%NULL%"})}));
}

TEST_F(RequestsTest, StatisticsAndAllUsersCountConnectionsNotLoggedOn) {
    dir.write("admin.txt", "alice\r\n");
    logOn("alice");
    int b = logOn("bob");
    int c = connect();

    deliver(b, frame(17, "ignored"));
    deliver(b, frame(18, "ignored"));
    EXPECT_EQ(received(b), (std::vector<Packet>{packet(17, {"3", "2", "%alice, bob, "}),
                                                packet(18, {"%alice, bob, "})}));

    // Channels are told apart without regard to letter case.
    server->users.find(static_cast<ConnectionNumber>(b))->channel = "MAIN";
    socket(c).peerCloses();
    received(b);
    deliver(b, frame(17, ""));
    deliver(b, frame(18, ""));
    EXPECT_EQ(received(b), (std::vector<Packet>{packet(17, {"2", "1", "%alice, bob"}), packet(18, {"%alice, bob"})}));
}

class QueueRoundTest : public RequestsTest {
protected:
    void SetUp() override {
        RequestsTest::SetUp();
        for (int i = 0; i < 10; ++i) {
            bool sharer = i == 2 || i == 5 || i == 9;
            EXPECT_EQ(logOn("user" + std::to_string(i), sharer ? "8" : "1"), i);
        }
    }

    // The one connection that the packet reached, or -1 when none or several did.
    int shareFrom(int c, const std::string& payload = "work") {
        deliver(c, frame(19, payload));
        auto got = traffic();
        if (got.size() != 1) return -1;
        EXPECT_EQ(got[0].second, std::vector<Packet>{packet(19, {payload})});
        return got[0].first;
    }
};

TEST_F(QueueRoundTest, SharersTakeTurnsInConnectionOrderWhoeverSends) {
    std::vector<int> turns;
    for (int sender : {2, 2, 9, 5, 2, 9}) turns.push_back(shareFrom(sender));
    EXPECT_EQ(turns, (std::vector<int>{2, 5, 9, 2, 5, 9}));

    EXPECT_EQ(shareFrom(5, "a\0b\0"s), 2);
    deliver(0, frame(19, "not a sharer"));
    deliver(3, frame(19, "nor this one"));
    EXPECT_EQ(traffic(), (std::vector<std::pair<int, std::vector<Packet>>>{}));
    EXPECT_EQ(shareFrom(2), 5);
}

TEST_F(QueueRoundTest, ARoundEndsWithoutASharerWhoLeftAfterItsTurn) {
    EXPECT_EQ(shareFrom(9), 2);
    EXPECT_EQ(shareFrom(9), 5);
    socket(5).peerCloses();
    traffic();

    std::vector<int> turns;
    for (int i = 0; i < 4; ++i) turns.push_back(shareFrom(2));
    EXPECT_EQ(turns, (std::vector<int>{9, 2, 9, 2}));
}

TEST_F(QueueRoundTest, ASharerWhoseSocketClosedIsPassedOverAndStillAwaited) {
    closeSocket(*server, 5);  // the record stays, and with it a turn that cannot be taken
    std::vector<int> turns;
    for (int i = 0; i < 4; ++i) turns.push_back(shareFrom(9));
    EXPECT_EQ(turns, (std::vector<int>{2, 9, -1, -1}));
    EXPECT_EQ(server->queueRound, (std::set<ConnectionNumber>{2, 9}));
}

}  // namespace
}  // namespace murmur::test
