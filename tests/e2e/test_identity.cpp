// Identity on the real program, tried as an attacker would: staff rank needs the password the
// operator set, a client cannot speak, whisper or join under another name, wrong passwords are
// slowed per address, and every refused logon leaves one line. The operator's account commands
// work beside the running server without losing its updates.
#include <array>
#include <set>
#include <thread>

#include "staff/Accounts.h"
#include "support/E2e.h"

namespace murmur::test {
namespace {

const std::string kTitle = "Murmur Server v1.2 by Halden";
const Packets kAdminWelcome{packet(5, {kTitle, "admin"}), kWelcome[1]};
std::string refusedWith(const std::string& text) { return frame(3, fields({text, "0"})); }
std::string withoutRights(const std::string& name) {
    return name + " is on the staff roster but gave no valid password; logged on without staff rights.";
}

class Identity : public E2e {
protected:
    // murmur-server with the arguments and the text as its standard input; its exit status.
    std::optional<int> command(const std::vector<std::string>& arguments, const std::string& input = "") {
        ServerProcess run(ServerProcess::ExactArguments{}, arguments);
        if (!input.empty()) run.sendConsole(input);
        run.closeStdin();
        auto status = run.waitForExit();
        lastErrors = run.errors();
        return status;
    }
    std::optional<int> setPassword(const std::string& name, const std::string& password) {
        return command({"--passwd", name, "--dir", dir.path()}, password);
    }
    // A client logs on, is answered, and leaves again; what it was sent. A staff name without its
    // password is told to the operator.
    Packets visit(const std::string& name, const std::string& password, bool withoutRank = false) {
        WireClient client(port);
        Packets got = logOn(client, name, password);
        if (withoutRank) {
            EXPECT_TRUE(server->waitForText(withoutRights(name)));
        }
        client.close();
        EXPECT_TRUE(server->waitForText(loggedOut(1)));
        return got;
    }
    std::string lastErrors;
};

TEST_F(Identity, StaffRankNeedsThePasswordTheOperatorSetsBesideTheRunningServer) {
    dir.write("admin.txt", "Boss\r\n");
    run();
    EXPECT_EQ(visit("boss", "", true), kWelcome);
    EXPECT_FALSE(dir.exists("users.txt"));  // no staff account is made by logging on

    EXPECT_EQ(setPassword("Boss", "s3cret"), 0) << lastErrors;
    EXPECT_EQ(dir.read("users.txt"), "Boss:" + hashPassword("s3cret") + "\r\n");
    EXPECT_EQ(visit("BOSS", "s3cret"), kAdminWelcome);
    EXPECT_EQ(setPassword("boss", "n3w"), 0) << lastErrors;
    EXPECT_EQ(visit("boss", "s3cret", true), kWelcome);
    EXPECT_EQ(visit("boss", "n3w"), kAdminWelcome);
    EXPECT_EQ(command({"--remove-account", "BOSS", "--dir", dir.path()}), 0) << lastErrors;
    EXPECT_EQ(dir.read("users.txt"), "");
    EXPECT_EQ(visit("boss", "n3w", true), kWelcome);

    // Refused, and nothing written: exit status 1 with the reason, 2 for options that do not fit.
    const std::vector<std::pair<std::vector<std::string>, int>> refusals = {
        {{"--passwd", "boss", "--dir", dir.path()}, 1},               // no input: no password
        {{"--passwd", "a b", "--dir", dir.path()}, 1},
        {{"--passwd", "%boss", "--dir", dir.path()}, 1},
        {{"--remove-account", "nobody", "--dir", dir.path()}, 1},
        {{"--passwd", "boss", "--dir", dir.file("missing")}, 1},
        {{"--passwd", "boss", "--headless"}, 2},
        {{"--passwd", "boss", "--remove-account", "boss"}, 2},
    };
    for (const auto& [arguments, status] : refusals) {
        EXPECT_EQ(command(arguments), status) << testing::PrintToString(arguments);
        EXPECT_NE(lastErrors.find("murmur-server: "), std::string::npos) << lastErrors;
    }
    EXPECT_EQ(setPassword("boss", ""), 1);
    EXPECT_EQ(setPassword("mallory", passwordFor("x\r\nboss:sq")), 1);
    EXPECT_EQ(lastErrors, "murmur-server: that password cannot be stored (its stored form would hold a line break); "
                          "choose another; nothing was changed.\n");
    EXPECT_EQ(dir.read("users.txt"), "");
}

TEST_F(Identity, WithValidationStaffNamesAndUnstorablePasswordsMakeNoAccount) {
    dir.write("admin.txt", "Boss\r\n");
    run("[Settings]\r\nAuthentication=Y\r\n");
    const std::vector<std::array<std::string, 4>> refusals = {
        {"boss", "anything", "This name is reserved for staff. Ask the operator to set its password.",
         "name reserved for staff"},
        {"mallory", passwordFor("x\r\nboss:sq"), "That password cannot be stored. Please choose another.",
         "password cannot be stored"},
    };
    for (const auto& [name, password, text, reason] : refusals) {
        WireClient client(port);
        client.send(logonFrame(name, password));
        EXPECT_EQ(client.waitClosed(), refusedWith(text));
        EXPECT_TRUE(server->waitForText("Logon refused for " + name + " from 127.0.0.1: " + reason + "."));
    }
    EXPECT_FALSE(dir.exists("users.txt"));
    WireClient mallory(port);
    mallory.send(logonFrame("mallory", "fine"));
    EXPECT_EQ(mallory.takePackets(3), (Packets{{10, ""}, kWelcome[0], kWelcome[1]}));
    EXPECT_EQ(dir.read("users.txt"), "mallory:" + hashPassword("fine") + "\r\n");
}

// Every name stated in a packet is checked against the sender's: a packet stating another is
// dropped, and what honest clients send and get stays byte for byte what it was.
TEST_F(Identity, NoClientSpeaksWhispersOrJoinsUnderAnotherName) {
    dir.write("admin.txt", "Boss\r\n");
    dir.write("users.txt", "Boss:" + hashPassword("pw") + "\r\n");
    run();
    WireClient boss(port);
    EXPECT_EQ(logOn(boss, "Boss", "pw"), kAdminWelcome);
    WireClient mallory(port);
    EXPECT_EQ(logOn(mallory, "mallory"), kWelcome);
    WireClient bob(port);
    EXPECT_EQ(logOn(bob, "bob"), kWelcome);
    EXPECT_EQ(boss.takePackets(4).size(), 4u);  // mallory and bob arrive
    EXPECT_EQ(mallory.takePackets(2).size(), 2u);

    auto chat = [](const std::string& name, const std::string& text) { return frame(2, fields({name, text})); };
    mallory.send(chat("%boss", "I am the admin") + chat("Boss", "me too") + chat("mallory", "hello"));
    for (WireClient* client : {&boss, &bob}) EXPECT_EQ(client->takePackets(1), Packets{packet(2, {"mallory", "hello"})});
    EXPECT_TRUE(server->waitForText("<mallory (Channel: Main)> hello"));

    mallory.send(frame(14, fields({"Boss", "bob", "from your admin"})) + frame(14, fields({"mallory", "bob", "psst"})));
    EXPECT_EQ(bob.takePackets(1), Packets{packet(14, {"mallory", "psst"})});
    EXPECT_TRUE(server->waitForText("<From mallory to bob> psst"));

    boss.send(chat("Boss", "/mute mallory"));
    const Packet muted = packet(3, {"mallory has been globally muted by Boss.", "1"});
    for (WireClient* client : {&boss, &mallory, &bob}) EXPECT_EQ(client->takePackets(1), Packets{muted});
    mallory.send(chat("bob", "still talking") + chat("mallory", "let me talk"));
    EXPECT_EQ(boss.takePackets(1), Packets{packet(2, {"(Muted) mallory", "let me talk"})});
    boss.send(chat("Boss", "quiet now"));
    EXPECT_EQ(bob.takePackets(1), Packets{packet(2, {"%Boss", "quiet now"})});

    boss.send(frame(12, fields({"Boss", "Den"})) + chat("Boss", "/ban mallory"));
    EXPECT_EQ(boss.takePackets(2), (Packets{packet(13, {"Den", "success"}),
                                            packet(3, {"mallory has been banned from the channel by Boss.", "1"})}));
    mallory.send(frame(12, fields({"bob", "Den"})) + frame(12, fields({"mallory", "Den"})));
    EXPECT_EQ(mallory.takePackets(3), (Packets{packet(2, {"%Boss", "quiet now"}), packet(12, {"%Boss"}),
                                               packet(3, {"You are banned from channel Den.", "0"})}));
}

TEST_F(Identity, WrongPasswordsFromOneAddressAreSlowedAndRefusalsAreWrittenDown) {
    dir.write("users.txt", "bob:" + hashPassword("right") + "\r\n");
    run("[Settings]\r\nAuthentication=Y\r\n");
    auto attempt = [&](const char* from, const std::string& password) {
        WireClient client(port, 0, "127.0.0.1", from);
        client.send(logonFrame("bob", password));
        return client.waitClosed().value_or("still open");
    };
    const std::string invalid = refusedWith("The server requires validation. Invalid password.");
    for (int i = 0; i < 5; ++i) EXPECT_EQ(attempt("127.0.0.1", "guess" + std::to_string(i)), invalid) << i;
    for (const char* password : {"guess", "right"})
        EXPECT_EQ(attempt("127.0.0.1", password), refusedWith("Too many failed logons. Please wait a minute and try again."));
    EXPECT_EQ(attempt("127.0.0.2", "guess"), invalid);
    WireClient other(port, 0, "127.0.0.1", "127.0.0.2");
    EXPECT_EQ(logOn(other, "bob", "right"), kWelcome);

    for (int i = 0; i < 5; ++i) EXPECT_TRUE(server->waitForText("Logon refused for bob from 127.0.0.1: invalid password."));
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(server->waitForText("Logon refused for bob from 127.0.0.1: too many failed logons."));
    EXPECT_TRUE(server->waitForText("Logon refused for bob from 127.0.0.2: invalid password."));
}

// Clients creating accounts and the operator setting passwords, at once, on one users.txt: every
// one of the hundred lines is there at the end.
TEST_F(Identity, AccountCreationsAndPasswordCommandsAtOnceLoseNoLine) {
    run("[Settings]\r\nAuthentication=Y\r\n");
    constexpr int kEach = 50;
    std::set<std::string> expected;
    for (int i = 0; i < kEach; ++i) {
        expected.insert("user" + std::to_string(i) + ":" + hashPassword("pw" + std::to_string(i)));
        expected.insert("op" + std::to_string(i) + ":" + hashPassword("pass" + std::to_string(i)));
    }
    std::thread clients([&] {
        for (int i = 0; i < kEach; ++i) {
            WireClient client(port);
            client.send(logonFrame("user" + std::to_string(i), "pw" + std::to_string(i)));
            Packets got;
            for (int reads = 0; got.size() < 3 && reads < 3; ++reads)
                for (const Packet& p : client.takePackets(3 - got.size()))
                    if (p.id != 4) got.push_back(p);  // the leave of the client before may come in between
            EXPECT_EQ(got, (Packets{{10, ""}, kWelcome[0], kWelcome[1]})) << i;
        }
    });
    for (int i = 0; i < kEach; ++i) EXPECT_EQ(setPassword("op" + std::to_string(i), "pass" + std::to_string(i)), 0) << lastErrors;
    clients.join();
    std::multiset<std::string> lines;
    std::string text = dir.read("users.txt");
    std::size_t at = 0;
    for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.insert(text.substr(at, end - at));
    EXPECT_EQ(at, text.size());
    EXPECT_EQ(lines, std::multiset<std::string>(expected.begin(), expected.end()));
}

}  // namespace
}  // namespace murmur::test
