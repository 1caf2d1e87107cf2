// The global filter (mute, unmute) and promotions to moderator and administrator.
#include <gtest/gtest.h>

#include <cstdio>

#include "core/Connections.h"
#include "staff/Console.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;
using Filter = std::unordered_set<std::string>;

Packet notice(const std::string& text, const std::string& kind = "1") { return packet(3, {text, kind}); }

class MutePromoteTest : public ServerTest {
protected:
    void SetUp() override {
        dir.write("admin.txt", "alice\r\n");
        dir.write("mods.txt", "mo\r\n");
        start();
        for (const char* name : {"alice", "mo", "eve", "bob"}) logOn(name);
        connect("10.0.0.9");  // not logged on: hears everything, and adds an empty name
        forgetTraffic();
    }
    void type(const std::string& text) { deliver(alice, frame(2, fields({"alice", text}))); }
    void expectEveryone(const Packets& packets) {
        for (int c = 0; c < socketCount(*server); ++c) EXPECT_EQ(received(c), packets) << "connection " << c;
    }
    static constexpr int alice = 0, mo = 1, eve = 2, bob = 3;
};

TEST_F(MutePromoteTest, MuteFiltersAListedNameAndProtectsStaffFromClients) {
    type("/mute Eve");
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::green, "Added \"eve\" to the global filter."}));
    expectEveryone({notice("Eve has been globally muted by alice.")});
    for (const char* text : {"/mute mo", "/mute ALICE", "/mute Bob Smith"}) type(text);
    EXPECT_EQ(received(alice), (Packets{notice("You cannot mute staff.", "0"), notice("You cannot mute staff.", "0"),
                                        notice("That user is not online.", "0")}));
    // The key is the whole rest of the line; the notice names the first word only.
    server->lstUsers.push_back("@Bob Smith");
    type("/mute Bob Smith");
    expectEveryone({notice("Bob has been globally muted by alice.")});
    consoleEntry(*server, "/mute mo");  // the console may mute staff
    EXPECT_EQ(server->globalFilter, (Filter{"eve", "bob smith", "mo"}));

    type("/unmute EVE");
    type("/unmute mo");  // nor are staff protected from being unmuted
    EXPECT_EQ(server->globalFilter, Filter{"bob smith"});
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::green, "Removed \"mo\" from the global filter."}));
    type("/unmute eve");
    EXPECT_EQ(received(eve), (Packets{notice("mo has been globally muted by Server Console."),
                                      notice("EVE has been globally unmuted by alice."),
                                      notice("mo has been globally unmuted by alice.")}));
    EXPECT_EQ(received(alice).back(), notice("That user is not globally muted.", "0"));
}

TEST_F(MutePromoteTest, PromotionsWriteTheRosterAndRefillTheUserList) {
    std::remove(dir.file("mods.txt").c_str());
    server->lblUsers = "as it was";
    consoleEntry(*server, "/makemod BOB");
    EXPECT_EQ(dir.read("mods.txt"), "bob\r\n");
    EXPECT_EQ(server->users.find(bob)->authString, "moderator");
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "},
                                                         {colour::yellow, "Server Console promoted BOB to "},
                                                         {colour::white, "moderator!"}}));
    // The view lists staff first; clients get every record's list name in table order.
    EXPECT_EQ(server->lstUsers, (std::vector<std::string>{"%alice", "@mo", "@bob", "eve"}));
    EXPECT_EQ(server->lblUsers, "as it was");
    expectEveryone({notice("Server Console promoted BOB to moderator!"), packet(9, {"%alice, @mo, eve, @bob, "})});

    type("/makemod bob");  // no check for a line already there
    type("/makeadmin eve");
    EXPECT_EQ(dir.read("mods.txt"), "bob\r\nbob\r\n");
    EXPECT_EQ(dir.read("admin.txt"), "alice\r\neve\r\n");
    EXPECT_EQ(server->lstUsers, (std::vector<std::string>{"%alice", "%eve", "@mo", "@bob"}));
    EXPECT_EQ(received(mo).back(), packet(9, {"%alice, @mo, %eve, @bob, "}));
    type("/makeadmin nobody");
    EXPECT_EQ(received(alice).back(), notice("User is not present on Murmur.", "0"));
}

}  // namespace
}  // namespace murmur::test
