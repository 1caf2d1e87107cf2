// Received bytes become whole packets, whatever the reads look like; packets leave in one frame.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "core/Framing.h"
#include "core/UserList.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

const std::string kNotCompatible = "Your client is not compatible with this server.";
const std::string kPoorClient = "A poorly developed client has attempted to connect and was refused.";

class FramingTest : public ServerTest {
protected:
    void SetUp() override {
        start();
        server->packetHandler = [this](std::uint8_t id, ConnectionNumber c, std::string_view payload) {
            dispatched.push_back({id, std::string(payload)});
            if (onPacket) onPacket(c);
        };
        conn = connect();
        chatLines();
    }

    std::vector<Packet> dispatched;
    std::function<void(ConnectionNumber)> onPacket;
    int conn = -1;
};

TEST_F(FramingTest, PacketsAreDispatchedWholeAndInOrderWhateverTheReads) {
    deliver(conn, frame(2, fields({"bob", "hi"})) + frame(9, ""));
    EXPECT_EQ(dispatched, (std::vector<Packet>{packet(2, {"bob", "hi"}), {9, ""}}));

    dispatched.clear();
    std::string split = frame(2, fields({"bob", "hello there"}));
    deliver(conn, split.substr(0, 1));
    deliver(conn, split.substr(1, 3));
    EXPECT_TRUE(dispatched.empty());
    deliver(conn, split.substr(4));
    EXPECT_EQ(dispatched, (std::vector<Packet>{packet(2, {"bob", "hello there"})}));

    dispatched.clear();
    std::string stream = frame(16, "eve") + frame(0, "") + frame(12, fields({"eve", "Lobby"}));
    for (char c : stream) deliver(conn, std::string(1, c));
    EXPECT_EQ(dispatched, (std::vector<Packet>{{16, "eve"}, {0, ""}, packet(12, {"eve", "Lobby"})}));
    EXPECT_TRUE(server->sckRecv[0].pending.empty());
    EXPECT_EQ(socket(conn).state(), sckConnected);
    EXPECT_TRUE(chatLines().empty());
}

TEST_F(FramingTest, AForeignIdDiscardsEverythingReceivedButKeepsTheConnection) {
    deliver(conn, std::string("\x19") + "junk" + frame(2, fields({"bob", "lost"})));
    EXPECT_TRUE(dispatched.empty());

    deliver(conn, frame(18, "") + std::string("\x14") + frame(9, "").substr(0, 1));
    EXPECT_EQ(dispatched, (std::vector<Packet>{{18, ""}}));
    EXPECT_TRUE(server->sckRecv[0].pending.empty());

    deliver(conn, frame(9, ""));
    EXPECT_EQ(dispatched, (std::vector<Packet>{{18, ""}, {9, ""}}));
    EXPECT_EQ(socket(conn).state(), sckConnected);
    EXPECT_TRUE(server->users.contains(conn));
    EXPECT_TRUE(received(conn).empty());
}

TEST_F(FramingTest, UnreadableLengthsEndInTheGeneralRefusal) {
    const std::vector<std::string> badStarts = {
        std::string("\x05x\0abc", 6),           // not a number
        std::string("\x02" "65537\0", 7),       // declared length too large
        std::string("\x02" "1234567890", 11),   // more than nine digits, no NUL yet
        std::string("\x02\0", 2),               // no digits at all
        std::string("\x02-1\0", 4),             // a sign is not a digit
    };
    for (const auto& bytes : badStarts) {
        int c = connect();
        addToUserList(*server, "bob");
        chatLines();
        deliver(c, frame(9, "") + bytes);
        EXPECT_EQ(chatLines(), std::vector<std::string>{kPoorClient});
        EXPECT_EQ(lastLine().pieces[1].colour, colour::red);
        std::string sent = socket(c).takeSent();
        ASSERT_EQ(sent.rfind(refusal(kNotCompatible) + "\x03See ", 0), 0u) << sent;
        std::string tail = " for the latest client.";
        tail += '\0';
        tail += '0';
        EXPECT_EQ(sent.substr(sent.size() - tail.size()), tail);
        EXPECT_EQ(socket(c).state(), sckClosed);
        EXPECT_FALSE(server->users.contains(static_cast<ConnectionNumber>(c)));
        // No leave notice, no user-list change, and the socket stays loaded for reuse.
        EXPECT_EQ(server->lstUsers.size(), 1u);
        EXPECT_EQ(socketCount(*server), c + 1);
        EXPECT_TRUE(received(conn).empty());
        clearUserList(*server);
    }
}

TEST_F(FramingTest, APayloadOfTheLargestLengthWaitsForAllItsBytes) {
    std::string payload(maxPayloadLength, 'a');
    std::string bytes = frame(2, payload);
    deliver(conn, bytes.substr(0, 40000));
    EXPECT_TRUE(dispatched.empty());
    deliver(conn, bytes.substr(40000));
    ASSERT_EQ(dispatched.size(), 1u);
    EXPECT_EQ(dispatched[0].payload.size(), maxPayloadLength);
}

TEST_F(FramingTest, ALogonThatIsNotThreeFieldsIsRefusedAndClosedButKeepsItsRecord) {
    deliver(conn, frame(1, fields({"bob", "pw"})));
    EXPECT_EQ(socket(conn).takeSent(), refusal(kNotCompatible));
    EXPECT_EQ(socket(conn).state(), sckClosed);
    EXPECT_TRUE(server->users.contains(conn));
    EXPECT_TRUE(dispatched.empty());
    EXPECT_TRUE(chatLines().empty());

    int other = connect();
    EXPECT_EQ(other, conn);  // the closed socket is taken again
    deliver(other, frame(1, fields({"bob", "pw", "1"})));
    EXPECT_EQ(dispatched, (std::vector<Packet>{packet(1, {"bob", "pw", "1"})}));
}

TEST_F(FramingTest, AFailingHandlerEndsInTheGeneralRefusal) {
    onPacket = [](ConnectionNumber) { throw ClientFault("no target field"); };
    deliver(conn, frame(8, "x") + frame(9, ""));
    EXPECT_EQ(dispatched.size(), 1u);
    EXPECT_EQ(chatLines(), std::vector<std::string>{kPoorClient});
    EXPECT_EQ(socket(conn).state(), sckClosed);
    EXPECT_FALSE(server->users.contains(conn));
}

TEST_F(FramingTest, AHandlerThatClosesTheConnectionEndsTheReading) {
    onPacket = [this](ConnectionNumber c) { closeSocket(*server, c); };
    deliver(conn, frame(9, "") + frame(9, "") + frame(9, ""));
    EXPECT_EQ(dispatched.size(), 1u);
}

TEST_F(FramingTest, DataForAConnectionWithoutRecordStayUnread) {
    server->users.remove(conn);
    deliver(conn, frame(9, ""));
    EXPECT_TRUE(dispatched.empty());
    server->users.put(conn, clsUserData{});
    deliver(conn, frame(18, ""));
    EXPECT_EQ(dispatched, (std::vector<Packet>{{9, ""}, {18, ""}}));
}

TEST_F(FramingTest, SendPacketPutsOneFrameOnTheWireOnlyForConnectedSockets) {
    sendPacket(*server, 4, conn, "abc");
    EXPECT_EQ(socket(conn).takeSent(), std::string("\x04" "3\0abc", 6));
    sendPacket(*server, 10, conn, "");
    EXPECT_EQ(socket(conn).takeSent(), std::string("\x0a" "0\0", 3));
    std::string binary("a\0b\xff", 4);
    sendPacket(*server, 2, conn, binary);
    EXPECT_EQ(socket(conn).takeSent(), std::string("\x02" "4\0", 3) + binary);

    closeSocket(*server, conn);
    sendPacket(*server, 4, conn, "abc");
    sendPacket(*server, 4, 7, "abc");  // beyond the array
    EXPECT_EQ(socket(conn).takeSent(), "");
}

TEST(TakeFrame, LeavesAnIncompleteFrameWhereItIs) {
    std::string bytes = std::string("\x02" "5\0ab", 5);
    std::string_view input = bytes;
    Frame frame;
    EXPECT_EQ(takeFrame(input, frame), FrameResult::needMore);
    EXPECT_EQ(input.size(), 5u);
    std::string digits = "\x02" "123456789";
    input = digits;
    EXPECT_EQ(takeFrame(input, frame), FrameResult::needMore);
    digits += "0";
    input = digits;
    EXPECT_EQ(takeFrame(input, frame), FrameResult::badLength);
}

}  // namespace
}  // namespace murmur::test
