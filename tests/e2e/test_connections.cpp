// Connections to the real program coming and going, and the framing of what clients send.
#include <thread>

#include "support/E2e.h"

namespace murmur::test {
namespace {

const std::string kNotCompatible = refusal("Your client is not compatible with this server.");

class Connections : public E2e {
protected:
    void SetUp() override { run(); }
};

TEST_F(Connections, LeavingIsReportedAndAnnouncedToTheOthers) {
    WireClient a(port), b(port);
    a.close();
    EXPECT_TRUE(server->waitForText(loggedOut(1)));
    // Id 4 with an empty name, for a connection that never logged on.
    EXPECT_EQ(b.takePackets(1), (Packets{{4, ""}}));
    expectServes(port);  // the first socket is free again
    EXPECT_EQ(b.takePackets(1), (Packets{{4, ""}}));
}

// A length the server cannot read: the operator is told, and the client gets both refusals and
// is let go.
TEST_F(Connections, UnreadableLengthIsRefusedWithBothTexts) {
    for (const std::string& bytes : {"\x05" "x\0abc"s, "\x02" "70000\0"s}) {  // not a number, too large
        WireClient client(port);
        client.send(bytes);
        EXPECT_TRUE(server->waitForText("A poorly developed client has attempted to connect and was refused."));
        EXPECT_EQ(client.waitClosed(),
                  kNotCompatible + refusal("See http://www.example.org/murmur/client/ for the latest client."));
    }
}

// A logon of two fields where three belong is refused without a word to the operator, also when
// cut where its second half would read as a packet with an unreadable length.
TEST_F(Connections, ShortLogonIsRefusedQuietlyWholeOrSplitAcrossWrites) {
    const std::string logon = frame(1, fields({"bob", "\x05x"}));
    for (std::size_t cut : {logon.size(), logon.find('\x05')}) {
        WireClient client(port);
        client.send(logon.substr(0, cut));
        std::this_thread::sleep_for(100ms);
        client.send(logon.substr(cut));
        EXPECT_EQ(client.waitClosed(), kNotCompatible);
    }
    expectServes(port);  // the console is up to date after this
    EXPECT_EQ(server->output().find("poorly"), std::string::npos);
}

}  // namespace
}  // namespace murmur::test
