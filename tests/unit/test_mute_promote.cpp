// The global filter (mute, unmute) and promotions to moderator and administrator.
#include <gtest/gtest.h>

#include <cstdio>

#include "core/Connections.h"
#include "staff/Console.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Packets = std::vector<Packet>;
using Lines = std::vector<std::string>;
using Filter = std::unordered_set<std::string>;

Packet notice(const std::string& text, const std::string& kind) { return packet(3, {text, kind}); }

class MutePromoteTest : public ServerTest {
protected:
    void SetUp() override {
        start();
        dir.write("admin.txt", "alice\r\n");
        dir.write("mods.txt", "mo\r\n");
        alice = logOn("alice");
        mo = logOn("mo");
        eve = logOn("eve");
        bob = logOn("bob");
        stranger = connect("10.0.0.9");
        forgetTraffic();
    }

    void type(int c, const std::string& name, const std::string& text) {
        deliver(c, frame(2, fields({name, text})));
    }
    // Every connected client received exactly these packets.
    void expectEveryone(const Packets& packets) {
        for (int c = 0; c < socketCount(*server); ++c) {
            if (socket(c).state() == sckConnected) {
                EXPECT_EQ(received(c), packets) << "connection " << c;
            }
        }
    }
    const clsUserData& record(int c) { return *server->users.find(static_cast<ConnectionNumber>(c)); }

    int alice = -1, mo = -1, eve = -1, bob = -1, stranger = -1;
};

TEST_F(MutePromoteTest, MuteFiltersAListedNameAndProtectsStaffFromClients) {
    type(alice, "alice", "/mute Eve");
    EXPECT_EQ(server->globalFilter, Filter{"eve"});
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::green, "Added \"eve\" to the global filter."}));
    expectEveryone({notice("Eve has been globally muted by alice.", "1")});

    type(alice, "alice", "/mute eve");
    EXPECT_EQ(server->globalFilter, Filter{"eve"});
    expectEveryone({notice("eve has been globally muted by alice.", "1")});
    EXPECT_EQ(chatLines(), (Lines{"Added \"eve\" to the global filter.", "Added \"eve\" to the global filter."}));

    type(alice, "alice", "/mute mo");
    type(alice, "alice", "/mute ALICE");
    type(alice, "alice", "/mute ghost");
    type(alice, "alice", "/mute Bob Smith");  // the key is "bob smith", which no list entry is
    EXPECT_EQ(received(alice), (Packets{notice("You cannot mute staff.", "0"), notice("You cannot mute staff.", "0"),
                                        notice("That user is not online.", "0"),
                                        notice("That user is not online.", "0")}));
    EXPECT_EQ(server->globalFilter, Filter{"eve"});
    expectEveryone({});

    // The key is the whole rest of the line; the notice is built from the first word after the command.
    server->lstUsers.push_back("@Bob Smith");
    type(alice, "alice", "/mute Bob Smith");
    EXPECT_EQ(server->globalFilter, (Filter{"eve", "bob smith"}));
    expectEveryone({notice("Bob has been globally muted by alice.", "1")});
    EXPECT_EQ(chatLines(), Lines{"Added \"bob smith\" to the global filter."});

    // The console may mute staff; its "not online" goes to the chat view in red.
    consoleEntry(*server, "/mute mo");
    EXPECT_EQ(server->globalFilter, (Filter{"eve", "bob smith", "mo"}));
    expectEveryone({notice("mo has been globally muted by Server Console.", "1")});
    consoleEntry(*server, "/mute ghost");
    EXPECT_EQ(chatLines(), (Lines{"Added \"mo\" to the global filter.", "That user is not online."}));
    EXPECT_EQ(lastLine().pieces[1].colour, colour::red);
    expectEveryone({});
}

TEST_F(MutePromoteTest, UnmuteLiftsAnyKeyWhetherOrNotTheUserIsOnline) {
    type(alice, "alice", "/mute eve");
    consoleEntry(*server, "/mute mo");
    forgetTraffic();

    type(alice, "alice", "/unmute EVE");
    EXPECT_EQ(server->globalFilter, Filter{"mo"});
    EXPECT_EQ(lastLine().pieces[1], (ChatPiece{colour::green, "Removed \"eve\" from the global filter."}));
    expectEveryone({notice("EVE has been globally unmuted by alice.", "1")});

    type(alice, "alice", "/unmute eve");
    EXPECT_EQ(received(alice), Packets{notice("That user is not globally muted.", "0")});
    consoleEntry(*server, "/unmute eve");
    EXPECT_EQ(chatLines(), (Lines{"Removed \"eve\" from the global filter.", "That user is not globally muted."}));
    EXPECT_EQ(lastLine().pieces[1].colour, colour::red);

    type(alice, "alice", "/unmute mo");  // staff are not protected from being unmuted
    EXPECT_TRUE(server->globalFilter.empty());

    type(alice, "alice", "/mute bob");
    socket(bob).peerCloses();
    forgetTraffic();
    type(alice, "alice", "/unmute bob");
    EXPECT_TRUE(server->globalFilter.empty());
    expectEveryone({notice("bob has been globally unmuted by alice.", "1")});
}

TEST_F(MutePromoteTest, MakemodWritesTheRosterAndRefillsTheUserList) {
    // Take eve's entry out by hand so that the label no longer follows the list.
    server->lstUsers.erase(server->lstUsers.begin() + 2);
    server->lblUsers = "Total Users: 3";
    ASSERT_EQ(server->lstUsers, (Lines{"%alice", "@mo", "bob"}));
    host.events.clear();

    type(alice, "alice", "/makemod bob");

    EXPECT_EQ(dir.read("mods.txt"), "mo\r\nbob\r\n");
    EXPECT_EQ(record(bob).authString, "moderator");
    EXPECT_EQ(record(bob).listName, "@bob");
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[12:34:56] "},
                                                         {colour::yellow, "alice promoted bob to "},
                                                         {colour::white, "moderator!"}}));
    // The list shows staff first; the clients get every record's list name in table order, the
    // connection that has not logged on adding an empty one.
    EXPECT_EQ(server->lstUsers, (Lines{"%alice", "@mo", "@bob", "eve"}));
    EXPECT_EQ(server->lblUsers, "Total Users: 3");
    expectEveryone({notice("alice promoted bob to moderator!", "1"), packet(9, {"%alice, @mo, eve, @bob, "})});
    EXPECT_EQ(host.events, (std::vector<std::string>{"send 0", "send 1", "send 2", "send 3", "send 4", "yield",
                                                     "send 0", "send 1", "send 2", "send 3", "send 4"}));

    // No check for a line already there.
    type(alice, "alice", "/makemod mo");
    EXPECT_EQ(dir.read("mods.txt"), "mo\r\nbob\r\nmo\r\n");

    type(alice, "alice", "/makeadmin eve");
    EXPECT_EQ(dir.read("admin.txt"), "alice\r\neve\r\n");
    EXPECT_EQ(record(eve).listName, "%eve");
    EXPECT_EQ(server->lstUsers, (Lines{"%alice", "%eve", "@mo", "@bob"}));
    expectEveryone({notice("alice promoted mo to moderator!", "1"), packet(9, {"%alice, @mo, eve, @bob, "}),
                    notice("alice promoted eve to admin!", "1"), packet(9, {"%alice, @mo, %eve, @bob, "})});

    type(alice, "alice", "/makeadmin nobody");
    EXPECT_EQ(received(alice), Packets{notice("User is not present on Murmur.", "0")});
    EXPECT_EQ(dir.read("admin.txt"), "alice\r\neve\r\n");
    expectEveryone({});
}

TEST_F(MutePromoteTest, TheConsolePromotesIntoAMissingRoster) {
    std::remove(dir.file("mods.txt").c_str());
    server->users.remove(static_cast<ConnectionNumber>(stranger));
    forgetTraffic();

    consoleEntry(*server, "/makemod BOB");
    EXPECT_EQ(dir.read("mods.txt"), "bob\r\n");
    expectEveryone({notice("Server Console promoted BOB to moderator!", "1"), packet(9, {"%alice, @mo, eve, @bob"})});
    EXPECT_EQ(chatLines(), Lines{"Server Console promoted BOB to moderator!"});

    consoleEntry(*server, "/makeadmin nobody");
    EXPECT_EQ(chatLines(), Lines{"User is not present on Murmur."});
    EXPECT_EQ(lastLine().pieces[1].colour, colour::red);
    EXPECT_EQ(dir.read("admin.txt"), "alice\r\n");
    expectEveryone({});
}

}  // namespace
}  // namespace murmur::test
