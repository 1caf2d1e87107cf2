// Questions a client asks about users, the Tic-Tac-Toe relay and the turns of the queue sharers.
#include <gtest/gtest.h>

#include "core/Branding.h"
#include "core/Connections.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;
using Traffic = std::vector<std::pair<int, Packets>>;

class RequestsTest : public ServerTest {
protected:
    void SetUp() override { start(); }
    void query(int c, const std::vector<std::string>& parts) { deliver(c, frame(8, fields(parts))); }
    // Every connection that was sent something since the last look, with what it got.
    Traffic traffic() {
        Traffic out;
        for (int i = 0; i < socketCount(*server); ++i)
            if (Packets got = received(i); !got.empty()) out.emplace_back(i, got);
        return out;
    }
};

TEST_F(RequestsTest, UserQuestionsAreAnsweredFromTheRecordsAndTheList) {
    dir.write("admin.txt", "alice\r\n");
    int a = connect();
    host.ticks += 42;
    deliver(a, frame(1, fields({"alice", "", "9"})));
    int b = logOn("bob");
    connect();
    deliver(a, frame(12, fields({"alice", "LOBBY"})));
    server->users.find(static_cast<ConnectionNumber>(b))->channel = "lobby";
    server->lstUsers = {"%Alice", "@bob", "Ca@r%ol", "carol"};
    forgetTraffic();
    for (const std::string& name : {std::string("ALICE"), fields({"alice", "x"}), std::string()})
        deliver(b, frame(7, name));  // the whole payload is the name
    for (const char* name : {"CAROL", "BOB", "@bob"}) deliver(b, frame(16, name));
    deliver(b, frame(17, "ignored"));
    deliver(b, frame(18, "ignored"));
    EXPECT_EQ(received(b), (Packets{packet(7, {"alice", "42|Quill Client by Quade|LOBBY"}),
                                    packet(3, {"Request error: user not found.", "0"}), packet(7, {"", "0||"}),
                                    packet(16, {"Carol"}), packet(16, {"bob"}), packet(16, {"%NULL%"}),
                                    packet(17, {"3", "2", "%alice, bob, "}), packet(18, {"%alice, bob, "})}));
}

TEST_F(RequestsTest, GameQueriesReachEveryHolderOfTheTargetName) {
    int a = logOn("alice"), b = logOn("bob"), c = logOn("carol");
    const std::vector<std::pair<std::vector<std::string>, Packet>> cases = {
        {{"BOARD Move", "bob", "cell 7"}, packet(8, {"board move", "alice", "7"})},
        {{"board move", "BOB", "r1c2"}, packet(8, {"board move", "alice", "12"})},
        {{"board move", "bob", "32767"}, packet(8, {"board move", "alice", "32767"})},
        {{"Start Prepare", "bob", "O"}, packet(8, {"Start Prepare", "alice", "X"})},
        {{"start prepare", "bob", "o"}, packet(8, {"start prepare", "alice", "O"})},
        {{"Invite Me", "bob"}, packet(8, {"Invite Me", "alice"})},
        {{"resign", "\x12" "b\x12ob", "x"}, packet(8, {"resign", "alice"})}};
    for (const auto& [parts, answer] : cases) {
        query(a, parts);
        EXPECT_EQ(traffic(), (Traffic{{b, {answer}}})) << testing::PrintToString(parts);
    }
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::green, "Tic-Tac-Toe Query: resign from alice to bob len: 3"}));

    server->users.find(static_cast<ConnectionNumber>(c))->originalName = "BOB";
    query(c, {"resign", "bob"});
    EXPECT_EQ(traffic(), (Traffic{{b, {packet(8, {"resign", "BOB"})}}, {c, {packet(8, {"resign", "BOB"})}}}));
    query(a, {"board move", "zed"});  // nobody holds it: no answer, and no argument needed
    EXPECT_EQ(traffic(), Traffic{});
    EXPECT_EQ(lastLine().pieces[1].text, "Tic-Tac-Toe Query: board move from alice to zed len: 3");
}

TEST_F(RequestsTest, UnreadableGameQueriesEndTheAskersConnection) {
    int bob = logOn("bob");
    for (const std::vector<std::string>& parts : std::vector<std::vector<std::string>>{
             {"resign"}, {"Board Move", "bob"}, {"start prepare", "bob"}, {"board move", "bob", "32768"}}) {
        int a = logOn("alice");
        query(a, parts);
        EXPECT_EQ(lastLine().pieces[1].text, "A poorly developed client has attempted to connect and was refused.");
        EXPECT_EQ(socket(a).takeSent(), refusal("Your client is not compatible with this server.") +
                                            refusal(std::string("See ") + branding::clientPageAddress +
                                                    " for the latest client."));
        EXPECT_EQ(received(bob), Packets{});
    }
}

TEST_F(RequestsTest, QueueSharersTakeTurnsInConnectionOrderWhoeverSends) {
    for (int i = 0; i < 6; ++i) logOn("user" + std::to_string(i), i == 1 || i == 3 || i == 5 ? "8" : "1");
    auto turnAfter = [&](int sender) {
        const std::string work("job\0x\0", 6);  // passed on whole, NULs and all
        deliver(sender, frame(19, work));
        Traffic got = traffic();
        return got.size() == 1 && got[0].second == Packets{packet(19, {work})} ? got[0].first : -1;
    };
    std::vector<int> turns;
    for (int sender : {1, 1, 5, 3, 3, 0, 1, 1}) turns.push_back(turnAfter(sender));  // 0 shares no queue
    socket(1).peerCloses();  // its place in the round still counts towards the round's end
    forgetTraffic();
    for (int sender : {3, 3}) turns.push_back(turnAfter(sender));
    closeKeepingRecord(5);  // the record stays, and with it a turn that cannot be taken
    for (int sender : {3, 3}) turns.push_back(turnAfter(sender));
    EXPECT_EQ(turns, (std::vector<int>{1, 3, 5, 1, 3, -1, 5, 1, 3, 3, -1, -1}));
}

}  // namespace
}  // namespace murmur::test
