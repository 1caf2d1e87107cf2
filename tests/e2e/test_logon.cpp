// Real clients logging on to the real program: what they are sent, what the operator sees, and
// what the account file holds afterwards.
#include <gtest/gtest.h>

#include <memory>

#include "support/ServerFixture.h"
#include "support/ServerProcess.h"
#include "support/WireClient.h"

namespace murmur::test {
namespace {

using namespace std::string_literals;

// id 5, "35", NUL, the title, NUL, the rank; then id 13, "12", NUL, "Main", NUL, "success".
const std::string kWelcomeNormal = "\x05" "35\0Murmur Server v1.2 by Halden\0normal"s;
const std::string kJoinedMain = "\x0d" "12\0Main\0success"s;
const std::string kAccountCreated = "\x0a" "0\0"s;

std::string logonFrame(const std::string& name, const std::string& password = "", const std::string& code = "1") {
    return frame(1, fields({name, password, code}));
}

std::string loggedOut(int connection) {
    return "Connection #" + std::to_string(connection) + " (from 127.0.0.1) has logged out of Murmur.";
}

bool startsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }
bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whole packets received so far, keep-alives left out, once at least count of them are in.
std::vector<Packet> packetsOf(WireClient& client, std::size_t count) {
    auto wanted = [](const std::string& bytes) {
        std::vector<Packet> out;
        for (auto& p : decode(bytes))
            if (p.id != 11) out.push_back(p);
        return out;
    };
    client.waitForBytes([&](const std::string& bytes) {
        auto got = wanted(bytes);
        return got.size() >= count && got.back().id != -1;
    });
    return wanted(client.take());
}

class LogonRun : public ::testing::Test {
protected:
    void run(const std::string& extraIni = "") {
        writeConfig(dir, port, extraIni);
        server = std::make_unique<ServerProcess>(dir.path());
        ASSERT_TRUE(server->waitForText("Listening on port " + std::to_string(port) + "...")) << server->transcript();
    }

    void TearDown() override {
        if (server) {
            EXPECT_EQ(server->terminate(), 0) << server->transcript();
        }
    }

    // The operator's line for an accepted logon; the ping is whatever the clock made of it.
    std::optional<std::string> connectedLine(int connection, const std::string& display) {
        std::string start = "Connection #" + std::to_string(connection) +
                            " (from 127.0.0.1) connected to Murmur with the nickname: " + display + ". (";
        return textAfterTimestamp(server->waitForLine([&](const std::string& line) {
            auto text = textAfterTimestamp(line);
            return text && startsWith(*text, start) && endsWith(*text, "ms ping)");
        }));
    }

    TempDir dir;
    int port = freePort();
    std::unique_ptr<ServerProcess> server;
};

TEST_F(LogonRun, APlainLogonIsWelcomedIntoMain) {
    run();
    WireClient client(port);
    client.send(logonFrame("bob", "anything"));
    ASSERT_TRUE(client.waitForBytes(kWelcomeNormal.size() + kJoinedMain.size()))
        << ::testing::PrintToString(client.inbox());
    EXPECT_EQ(client.take(), kWelcomeNormal + kJoinedMain);
    auto line = connectedLine(1, "bob");
    ASSERT_TRUE(line) << server->transcript();
    std::string ping = line->substr(line->rfind('(') + 1);
    EXPECT_GT(ping.size(), 8u) << *line;
    EXPECT_EQ(ping.find_first_not_of("0123456789"), ping.size() - 8) << *line;

    // Without validation no account file is made.
    EXPECT_FALSE(dir.exists("users.txt"));
    client.close();
    EXPECT_TRUE(server->waitForText(loggedOut(1))) << server->transcript();
}

TEST_F(LogonRun, ASpoofedNameIsToldWhyAndDisconnected) {
    run();
    WireClient client(port);
    client.send(logonFrame("@bob"));
    EXPECT_EQ(client.waitClosed(),
              "\x03" "79\0Trying to spoof a mod / admin (don't use \"@\" or \"%\" to the left of your name)\0" "0"s);

    // The refused client leaves no trace but its free socket, which the next one takes.
    WireClient next(port);
    next.send(logonFrame("bob"));
    EXPECT_TRUE(connectedLine(1, "bob")) << server->transcript();
    for (const auto& l : server->lines()) EXPECT_EQ(l.find("@bob"), std::string::npos) << l;
}

TEST_F(LogonRun, WithValidationTheFirstPasswordIsStoredAndAskedForAgain) {
    run("[Settings]\r\nAuthentication=Y\r\n");
    {
        WireClient first(port);
        first.send(logonFrame("Bob", "secret"));
        EXPECT_EQ(packetsOf(first, 3), (std::vector<Packet>{{10, ""}, packet(5, {"Murmur Server v1.2 by Halden", "normal"}),
                                                            packet(13, {"Main", "success"})}));
        EXPECT_EQ(dir.read("users.txt"), "Bob:v_emim\r\n");
        first.close();
        ASSERT_TRUE(server->waitForText(loggedOut(1))) << server->transcript();
    }

    WireClient wrong(port);
    wrong.send(logonFrame("bob", "secreT"));
    EXPECT_EQ(wrong.waitClosed(), "\x03" "51\0The server requires validation. Invalid password.\0" "0"s);

    WireClient right(port);
    right.send(logonFrame("BOB", "secret"));
    ASSERT_TRUE(right.waitForBytes(kWelcomeNormal.size() + kJoinedMain.size()))
        << ::testing::PrintToString(right.inbox());
    EXPECT_EQ(right.take(), kWelcomeNormal + kJoinedMain);
    EXPECT_TRUE(connectedLine(1, "BOB")) << server->transcript();
    EXPECT_EQ(dir.read("users.txt"), "Bob:v_emim\r\n");
}

TEST_F(LogonRun, OthersAreToldOfANewUser) {
    run();
    WireClient bob(port);
    bob.send(logonFrame("bob"));
    ASSERT_EQ(packetsOf(bob, 2).size(), 2u);

    WireClient alice(port);
    alice.send(logonFrame("alice", "", "01"));
    auto told = packetsOf(bob, 2);
    ASSERT_EQ(told.size(), 2u) << ::testing::PrintToString(told);
    ASSERT_EQ(told[0].id, 1);
    const std::string start = "alice\0" "01\0"s;
    ASSERT_TRUE(startsWith(told[0].payload, start)) << ::testing::PrintToString(told[0]);
    std::string ping = told[0].payload.substr(start.size());
    EXPECT_FALSE(ping.empty());
    EXPECT_EQ(ping.find_first_not_of("0123456789"), std::string::npos) << ping;
    EXPECT_EQ(told[1], (Packet{15, "alice"}));

    // The operator line shows the same ping; the new user is told of nobody.
    EXPECT_EQ(connectedLine(2, "alice"), "Connection #2 (from 127.0.0.1) connected to Murmur with the nickname: alice. (" +
                                             ping + "ms ping)")
        << server->transcript();
    EXPECT_EQ(packetsOf(alice, 2), (std::vector<Packet>{packet(5, {"Murmur Server v1.2 by Halden", "normal"}),
                                                        packet(13, {"Main", "success"})}));
}

}  // namespace
}  // namespace murmur::test
