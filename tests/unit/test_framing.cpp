// Received bytes become whole packets, whatever the reads look like; packets leave in one frame.
#include <gtest/gtest.h>

#include "core/Connections.h"
#include "core/Framing.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;
using namespace std::string_literals;
const std::string kNotCompatible = "Your client is not compatible with this server.";

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
    Packets dispatched;
    std::function<void(ConnectionNumber)> onPacket;
    int conn = -1;
};

TEST_F(FramingTest, PacketsAreDispatchedWholeAndInOrderWhateverTheReads) {
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

TEST_F(FramingTest, AForeignIdOrAClosingHandlerEndsTheReadingOfWhatArrived) {
    deliver(conn, frame(18, "") + "\x14" + frame(2, fields({"bob", "lost"})));
    deliver(conn, frame(9, ""));
    EXPECT_EQ(dispatched, (Packets{{18, ""}, {9, ""}}));
    EXPECT_EQ(socket(conn).state(), sckConnected);
    onPacket = [this](ConnectionNumber c) { closeKeepingRecord(c); };
    deliver(conn, frame(9, "") + frame(18, ""));
    EXPECT_EQ(dispatched.size(), 3u);
}

TEST_F(FramingTest, UnreadableLengthsAndFailingHandlersEndInTheGeneralRefusal) {
    const std::string expected = refusal(kNotCompatible) + refusal("See http://www.example.org/murmur/client/ for the latest client.");
    onPacket = [](ConnectionNumber) { throw ClientFault("no target field"); };
    for (const std::string& bytes : {"\x05x\0abc"s, "\x02" "65537\0"s, "\x02" "1234567890"s, "\x02\0"s, "\x02-1\0"s, "\x08" "1\0x"s}) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        int c = connect();
        deliver(c, bytes + frame(9, ""));
        EXPECT_EQ(socket(c).takeSent(), expected);
        EXPECT_EQ(chatLines(), std::vector<std::string>{"A poorly developed client has attempted to connect and was refused."});
        EXPECT_EQ(lastLine().pieces[1].colour, colour::red);
        EXPECT_EQ(socket(c).state(), sckClosed);
        EXPECT_FALSE(server->users.contains(static_cast<ConnectionNumber>(c)));
        EXPECT_EQ(socketCount(*server), c + 1);  // no leave notice, and the socket stays loaded
        EXPECT_EQ(socket(conn).takeSent(), "");
    }
    EXPECT_EQ(dispatched, Packets{packet(8, {"x"})});
}

TEST_F(FramingTest, SendPacketPutsOneFrameOnTheWireOnlyForConnectedSockets) {
    sendPacket(*server, 4, conn, "abc");
    sendPacket(*server, 10, conn, "");
    sendPacket(*server, 2, conn, "a\0b\xff"s);
    EXPECT_EQ(socket(conn).takeSent(), "\x04" "3\0abc" "\x0a" "0\0" "\x02" "4\0a\0b\xff"s);
    closeKeepingRecord(conn);
    sendPacket(*server, 4, conn, "abc");
    sendPacket(*server, 4, 7, "abc");  // beyond the array
    EXPECT_EQ(socket(conn).takeSent(), "");
}

}  // namespace
}  // namespace murmur::test
