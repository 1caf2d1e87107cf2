// Clients of the real program on loopback: connections coming and going, and the framing of what
// they send.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "support/ServerFixture.h"
#include "support/ServerProcess.h"
#include "support/WireClient.h"

namespace murmur::test {
namespace {

using namespace std::string_literals;

const std::string kNotCompatible = "Your client is not compatible with this server.";
const std::string kPoorClient = "A poorly developed client has attempted to connect and was refused.";
// A leave notice for a connection that never logged on: id 4, an empty name.
const std::string kEmptyLeaveNotice = "\x04" "0\0"s;
// A logon with two fields where three belong: refused without a word to the operator.
const std::string kShortLogon = frame(1, fields({"bob", "pw"}));

std::string loggedOut(int connection) {
    return "Connection #" + std::to_string(connection) + " (from 127.0.0.1) has logged out of Murmur.";
}

class Running : public ::testing::Test {
protected:
    Running() {
        writeConfig(dir, port);
        server = std::make_unique<ServerProcess>(dir.path());
        listening = server->waitForText("Listening on port " + std::to_string(port) + "...").has_value();
    }

    void SetUp() override { ASSERT_TRUE(listening) << server->transcript(); }

    void TearDown() override { EXPECT_EQ(server->terminate(), 0) << server->transcript(); }

    // A client that connects and leaves again, and the report of it.
    void passingClient(int connection) {
        WireClient passing(port);
        passing.close();
        EXPECT_TRUE(server->waitForText(loggedOut(connection))) << server->transcript();
    }

    TempDir dir;
    int port = freePort();
    std::unique_ptr<ServerProcess> server;
    bool listening = false;
};

using Connections = Running;

TEST_F(Connections, LeavingIsReportedAndAnnouncedToTheOthers) {
    WireClient a(port);
    WireClient b(port);
    a.close();
    EXPECT_TRUE(server->waitForText(loggedOut(1))) << server->transcript();
    ASSERT_TRUE(b.waitForBytes(kEmptyLeaveNotice.size())) << "received: " << ::testing::PrintToString(b.inbox());
    EXPECT_EQ(b.take(), kEmptyLeaveNotice);

    // The first socket is free again and the next client takes it.
    passingClient(1);
    ASSERT_TRUE(b.waitForBytes(kEmptyLeaveNotice.size())) << "received: " << ::testing::PrintToString(b.inbox());
    EXPECT_EQ(b.take(), kEmptyLeaveNotice);

    b.close();
    EXPECT_TRUE(server->waitForText(loggedOut(2))) << server->transcript();
}

// A length the server cannot read: the operator is told, the client gets both refusal texts, and
// the server ends the connection.
class BadLength : public Running, public ::testing::WithParamInterface<std::string> {};

TEST_P(BadLength, ClientIsRefusedWithBothTextsAndDisconnected) {
    WireClient client(port);
    client.send(GetParam());
    EXPECT_TRUE(server->waitForText(kPoorClient)) << server->transcript();

    auto received = client.waitClosed();
    ASSERT_TRUE(received) << "still connected; received: " << ::testing::PrintToString(client.inbox());
    const std::string first = refusal(kNotCompatible);
    ASSERT_EQ(received->substr(0, first.size()), first) << ::testing::PrintToString(*received);
    std::string second = received->substr(first.size());
    const std::string ending = " for the latest client.\0" "0"s;
    EXPECT_EQ(second.rfind("\x03See ", 0), 0u) << ::testing::PrintToString(second);
    ASSERT_GE(second.size(), ending.size());
    EXPECT_EQ(second.substr(second.size() - ending.size()), ending) << ::testing::PrintToString(second);
    EXPECT_EQ(second.find('\0'), second.size() - 2) << ::testing::PrintToString(second);
}

INSTANTIATE_TEST_SUITE_P(Framing, BadLength,
                         ::testing::Values("\x05" "x\0abc"s,   // not a number
                                           "\x02" "70000\0"s),  // more than a packet may hold
                         [](const auto& info) { return info.index == 0 ? "NotANumber" : "TooLarge"; });

using Framing = Running;

TEST_F(Framing, LogonWithTwoFieldsIsRefusedQuietly) {
    WireClient client(port);
    client.send(kShortLogon);
    EXPECT_EQ(client.waitClosed(), refusal(kNotCompatible));

    // A later client's report shows the console is up to date; nothing came before it.
    passingClient(1);
    for (const auto& line : server->lines()) EXPECT_EQ(line.find("poorly"), std::string::npos) << line;
}

// A short logon cut where its second half would read as a packet with a bad length: joined, it is
// refused as a logon, alone; read apart, the operator would hear of a poorly developed client.
TEST_F(Framing, PacketSplitAcrossWritesIsJoined) {
    const std::string whole = frame(1, fields({"bob", "\x05x"}));
    const std::size_t cut = whole.find('\x05');
    WireClient client(port);
    client.send(whole.substr(0, cut));
    std::this_thread::sleep_for(100ms);
    client.send(whole.substr(cut));
    EXPECT_EQ(client.waitClosed(), refusal(kNotCompatible));
}

TEST_F(Framing, IdAboveTheProtocolsIsIgnored) {
    WireClient client(port);
    client.send("\x19garbage");
    // A leave notice reaches only connected clients.
    passingClient(2);
    ASSERT_TRUE(client.waitForBytes(kEmptyLeaveNotice.size()))
        << "received: " << ::testing::PrintToString(client.inbox());
    EXPECT_EQ(client.take(), kEmptyLeaveNotice);
    client.send(kShortLogon);
    EXPECT_EQ(client.waitClosed(), refusal(kNotCompatible));
}

}  // namespace
}  // namespace murmur::test
