// Logging on to the real program with validation: the first password is stored, and asked for on
// a later connection.
#include <regex>

#include "support/E2e.h"

namespace murmur::test {
namespace {

using Logon = E2e;

TEST_F(Logon, WithValidationTheFirstPasswordIsStoredAndAskedForAgain) {
    run("[Settings]\r\nAuthentication=Y\r\n");
    {
        WireClient first(port);
        first.send(logonFrame("Bob", "secret"));
        EXPECT_EQ(first.takePackets(3), (Packets{{10, ""}, kWelcome[0], kWelcome[1]}));  // the account is made
        EXPECT_EQ(dir.read("users.txt"), "Bob:v_emim\r\n");
    }
    ASSERT_TRUE(server->waitForText(loggedOut(1)));

    WireClient wrong(port);
    wrong.send(logonFrame("bob", "secreT"));
    EXPECT_EQ(wrong.waitClosed(), frame(3, fields({"The server requires validation. Invalid password.", "0"})));

    WireClient right(port);
    right.send(logonFrame("BOB", "secret"));
    EXPECT_EQ(right.takePackets(2), kWelcome);
    auto line = server->waitForLine("nickname: BOB.");
    ASSERT_TRUE(line);
    EXPECT_TRUE(std::regex_match(*line, std::regex(R"(\[[0-9:]{8}\] Connection #1 \(from 127\.0\.0\.1\) )"
                                                   R"(connected to Murmur with the nickname: BOB\. \(\d+ms ping\))")))
        << *line;
    EXPECT_EQ(dir.read("users.txt"), "Bob:v_emim\r\n");
}

}  // namespace
}  // namespace murmur::test
