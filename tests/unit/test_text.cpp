// What the server keeps on disk and shows: MMConf.ini in, settings in memory, the listener, and
// MMConf.ini out again; the CR LF data files and code-page bytes; the chat view's timestamped
// coloured lines, how the view is kept from growing for ever, and the chat log.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <optional>

#include "core/ChatView.h"
#include "core/Lifecycle.h"
#include "core/Settings.h"
#include "host/CodePage.h"
#include "host/IniFile.h"
#include "host/TextFile.h"
#include "support/ServerFixture.h"

namespace murmur::test {
namespace {

using Lines = std::vector<std::string>;
using StartupTest = ServerTest;

TEST(IniFile, ReadsLikeAPrivateProfileAndRewritesOnlyTheKeyLines) {
    IniDocument ini("; notes\r\n[Server]\r\n Port = 4800 \r\n;Protocol=1\r\nName=\"  q  \"\r\nMixed=\"x'\r\nSum=a=b\r\n"
                    "Long=" + std::string(300, 'v') + "\r\n\r\n[Limits]\nIdle Time=60\n\n[\xC9T\xC9]\r\nA=1");
    const std::vector<std::array<std::string, 3>> reads = {
        {"SERVER", "port", "4800"}, {"Server", "Protocol", ""}, {"Server", "Name", "  q  "}, {"Server", "Mixed", "\"x'"},
        {"Server", "Sum", "a=b"}, {"Server", "Long", std::string(254, 'v')}, {"limits", "IDLE TIME", "60"},
        {"Limits", "Port", ""}, {"\xE9t\xE9", "a", "1"},
    };
    for (const auto& [section, key, value] : reads) EXPECT_EQ(ini.get(section, key), value) << section << "/" << key;
    ini.set("server", "PORT", "4801");
    ini.set("Server", "Protocol", "2");
    ini.set("Limits", "Idle", "on");
    ini.set("Spam Control", "Enabled", "Y");
    EXPECT_EQ(ini.text(), "; notes\r\n[Server]\r\nPORT=4801\r\n;Protocol=1\r\nName=\"  q  \"\r\nMixed=\"x'\r\nSum=a=b\r\n"
                          "Long=" + std::string(300, 'v') + "\r\nProtocol=2\r\n\r\n[Limits]\r\nIdle Time=60\r\nIdle=on\r\n\r\n"
                          "[\xC9T\xC9]\r\nA=1\r\n[Spam Control]\r\nEnabled=Y\r\n");
}

TEST(SettingsNumbers, AcceptDecimalExponentAndRadixFormsRoundedHalfToEvenIntoSixteenBits) {
    using Parsed = std::optional<double>;
    EXPECT_EQ(std::vector<Parsed>({parseNumeric(" 48 "), parseNumeric("-.5"), parseNumeric("1.5E+2"), parseNumeric("&h1F"), parseNumeric("&O17")}),
              std::vector<Parsed>({48, -.5, 150, 31, 15}));
    for (const char* bad : {"", "abc", "12abc", "1,000", ".", "1e", "- 5", "&H", "&O8", "0x1F"})
        EXPECT_EQ(parseNumeric(bad), std::nullopt) << bad;
    using Fitted = std::optional<std::int16_t>;
    EXPECT_EQ(std::vector<Fitted>({toInt16(2.5), toInt16(3.5), toInt16(-2.5), toInt16(32767.4), toInt16(32767.5), toInt16(-32768.6)}),
              std::vector<Fitted>({2, 4, -2, 32767, std::nullopt, std::nullopt}));
}

TEST(TextFile, LinesEndInCrLfAndFilesAreReadWholeAppendedOrRewritten) {
    EXPECT_EQ(textfile::splitCrLf(""), Lines{});
    EXPECT_EQ(textfile::splitCrLf("a\r\nb\nc\r\n"), (Lines{"a", "b\nc", ""}));
    TempDir dir;
    std::string text = "left over";
    EXPECT_EQ(textfile::readWhole(dir.file("none.txt"), text), textfile::ReadStatus::missing);
    EXPECT_EQ(textfile::readWhole(dir.path(), text), textfile::ReadStatus::failed);
    EXPECT_EQ(text, "");
    // A last line left without its CR LF gets it before the new line; a line end is not doubled.
    dir.write("list.txt", "unfinished");
    ASSERT_TRUE(textfile::appendLine(dir.file("list.txt"), "next"));
    ASSERT_TRUE(textfile::appendLine(dir.file("list.txt"), ""));
    EXPECT_EQ(dir.read("list.txt"), "unfinished\r\nnext\r\n\r\n");
    dir.write("list.txt", "\n");
    ASSERT_TRUE(textfile::appendLine(dir.file("list.txt"), "x"));
    EXPECT_EQ(dir.read("list.txt"), "\n\r\nx\r\n");
    ASSERT_TRUE(textfile::rewrite(dir.file("list.txt"), {"a", "", "b"}));
    EXPECT_EQ(dir.read("list.txt"), "a\r\n\r\nb\r\n");
    EXPECT_FALSE(dir.exists("list.txt.tmp"));
}

TEST(CodePage, LowerCaseUtf8AndPrintableEscapes) {
    EXPECT_EQ(codepage::toLower("AZ@[\xC0\xD6\xD7\xD8\xDE\xDF\x8A\x8C\x8E\x9F"), "az@[\xE0\xF6\xD7\xF8\xFE\xDF\x9A\x9C\x9E\xFF");
    EXPECT_TRUE(codepage::equalsNoCase("\xC9ve", "\xE9VE"));
    EXPECT_EQ(codepage::toUtf8("caf\xE9 \x80\x81\x9F"), "caf\xC3\xA9 \xE2\x82\xAC\xC2\x81\xC5\xB8");
    EXPECT_EQ(codepage::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC\xCE\xA9\xF0\x9F\x98\x80"), "caf\xE9 \x80??");
    // Bytes that are no shortest UTF-8 pass as they are, so '/' or NUL cannot be smuggled in.
    EXPECT_EQ(codepage::fromUtf8("caf\xE9 \xC3" "A \xC0\xAF \xE0\x80\xBC \xED\xA0\x80"), "caf\xE9 \xC3" "A \xC0\xAF \xE0\x80\xBC \xED\xA0\x80");
    for (int b = 0; b < 256; ++b) EXPECT_EQ(codepage::fromUtf8(codepage::toUtf8(std::string(1, char(b)))), std::string(1, char(b)));
    EXPECT_EQ(codepage::toPrintableUtf8(std::string("\x1B[2J\0\t\x7F\x81\x9D\x80\xA0\\", 12)),
              "\\x1B[2J\\x00\\x09\\x7F\\x81\\x9D\xE2\x82\xAC\xC2\xA0\\");
}

TEST_F(StartupTest, ValuesAreReadAndOtherLinesOfTheFileSurvive) {
    dir.write("MMConf.ini", "; notes\r\n[server]\r\nPORT = 4900 \r\nprotocol=7\r\nOwner=Halden\r\n\r\n"
                            "[Settings]\r\nIdleSystem=y\r\n[Spam Control]\r\nMessageCount=abc\r\nSecondsToCheck=&H0A\r\n");
    start();
    EXPECT_EQ(static_cast<FakeListener&>(host.listener()).boundAddress, "127.0.0.1");
    EXPECT_FALSE(server->tmrIdle->enabled());  // only "Y" exactly turns the idle system on
    EXPECT_EQ(server->tmrHandleJunk->interval(), 10000);
    EXPECT_EQ(chatLines(), (Lines{"Murmur Server 1.2.0, data in " + dir.path(), "Listening on port 4900...",
                                  "Only clients on this machine can connect (Protocol is not 0)."}));
    shutDown(*server);
    EXPECT_EQ(chatLines(), Lines{"Shutting down: 0 users disconnected, settings saved to MMConf.ini."});
    EXPECT_EQ(dir.read("MMConf.ini"), "; notes\r\n[server]\r\nPort=4900\r\nProtocol=1\r\nOwner=Halden\r\n\r\n[Settings]\r\nIdleSystem=y\r\n"
              "Authentication=N\r\nWriteLogToFile=N\r\n[Spam Control]\r\nMessageCount=5\r\nSecondsToCheck=10\r\nEnabled=Y\r\n"
              "[Idle System]\r\nEnabled=y\r\nIdleTime=5\r\n[Load Control]\r\nEnabled=N\r\nAmountOfConnections=5\r\nAmountOfTime=3\r\n");
}

TEST_F(StartupTest, AnOverflowStopsTheReadingAndWhatWasNotReadIsNotWritten) {
    dir.write("MMConf.ini", "[Server]\r\nPort=40000\r\n[Settings]\r\nAuthentication=Y\r\n");
    start();
    EXPECT_FALSE(host.listener().isListening());
    // Nothing listens, and no line says otherwise.
    EXPECT_EQ(chatLines(), (Lines{"Murmur Server 1.2.0, data in " + dir.path(), "Error #6: Overflow in Form_Load()"}));
    shutDown(*server);
    EXPECT_EQ(dir.read("MMConf.ini"), "[Server]\r\nPort=40000\r\nProtocol=0\r\n[Settings]\r\nAuthentication=Y\r\n");

    // A spam window beyond 16 bits of milliseconds fails after everything is read.
    dir.write("MMConf.ini", "[Spam Control]\r\nSecondsToCheck=33\r\n[Settings]\r\nAuthentication=Y\r\n");
    Server again(host, dir.path());
    startUp(again);
    EXPECT_EQ(again.rtbChat.lines()[1].pieces[1], (ChatPiece{colour::red, "Error #6: Overflow in Form_Load()"}));
    EXPECT_EQ(again.settings.authentication, "Y");
    EXPECT_EQ(again.tmrHandleJunk->interval(), 0);  // keeps its earlier period
    EXPECT_TRUE(host.listener().isListening());
}

// An edit on disk made while the server runs outlives the shutdown, unless the setting was changed
// in memory too: then the operator's dialog has the last word, as it always had.
TEST_F(StartupTest, KeysEditedOnDiskWhileRunningKeepTheEditUnlessChangedInMemory) {
    dir.write("MMConf.ini", "[Server]\r\nPort=4900\r\n[Settings]\r\nAuthentication=N\r\n"
                            "[Spam Control]\r\nMessageCount=abc\r\nEnabled=Y\r\n");
    start();
    dir.write("MMConf.ini", "[Server]\r\n[Settings]\r\nAuthentication=Y\r\n[Spam Control]\r\nMessageCount=9\r\n"
                            "Enabled=X\r\n[Load Control]\r\nAmountOfTime=7\r\n");
    server->settings.spamControl = "N";  // as the settings dialog sets it
    server->settings.amountOfTime = 3;   // set, but to the value it had
    chatLines();
    shutDown(*server);
    EXPECT_EQ(dir.read("MMConf.ini"),
              "[Server]\r\nProtocol=0\r\n[Settings]\r\nAuthentication=Y\r\nIdleSystem=N\r\nWriteLogToFile=N\r\n"
              "[Spam Control]\r\nMessageCount=9\r\nEnabled=N\r\nSecondsToCheck=3\r\n[Load Control]\r\nAmountOfTime=7\r\n"
              "Enabled=N\r\nAmountOfConnections=5\r\n[Idle System]\r\nEnabled=N\r\nIdleTime=5\r\n");
    EXPECT_EQ(chatLines(), (Lines{"Kept as edited in MMConf.ini while the server ran: Server/Port (removed), Settings/Authentication=Y, "
                                  "Spam Control/MessageCount=9, Load Control/AmountOfTime=7.",
                                  "Shutting down: 0 users disconnected, settings saved to MMConf.ini."}));
}

TEST_F(StartupTest, TheChatLogGetsEveryLinePrintableAndReportsAFailureOnce) {
    dir.write("MMConf.ini", "[Settings]\r\nWriteLogToFile=Y\r\n");
    start();
    addChat(*server, {{colour::yellow, "Esc\x1b[2J"}, {colour::white, " caf\xe9"}});
    const std::string first = "Murmur Server 1.2.0, data in " + dir.path();
    EXPECT_EQ(dir.read("logs/chat-2026-12-07.txt"),
              "[12:34:56] " + first + "\n[12:34:56] Listening on port 4800...\n[12:34:56] Esc\\x1B[2J caf\xc3\xa9\n");
    std::filesystem::remove_all(dir.file("logs"));
    dir.write("logs", "a file where the folder should be");
    for (const char* text : {"one", "two"}) addChat(*server, {{colour::white, text}});
    const std::string failure = "The chat log could not be written to " + dir.file("logs") + "/chat-2026-12-07.txt.";
    EXPECT_EQ(chatLines(), (Lines{first, "Listening on port 4800...", "Esc\x1b[2J caf\xe9", "one", failure, "two"}));
}

TEST_F(StartupTest, TheChatViewIsTrimmedOnlyOnceItHoldsMoreThanTheThreshold) {
    // Zero-padded, 11 timestamp characters, 87 of text and the line end as CR LF: 100 characters a line.
    host.time = {2026, 12, 7, 9, 5, 3};
    std::string text(87, 'a');
    for (int i = 0; i < 1000; ++i) addChat(*server, {{colour::white, text}});
    ASSERT_EQ(server->rtbChat.length(), 100000u);
    addChat(*server, {{colour::white, text}});
    EXPECT_EQ(server->rtbChat.length(), 100100u);  // exactly at the threshold: nothing goes

    addChat(*server, {{colour::red, "next"}});
    EXPECT_EQ(server->rtbChat.length(), 100100u - 50000u + 17u);
    EXPECT_EQ(server->rtbChat.lines().size(), 1001u - 500u + 1u);
    EXPECT_EQ(lastLine().pieces, (std::vector<ChatPiece>{{colour::white, "[09:05:03] "}, {colour::red, "next"}}));

    // A cut inside a line keeps the rest of that line.
    server->rtbChat.clear();
    for (int i = 0; i < 1001; ++i) addChat(*server, {{colour::white, std::string(87 + (i == 0 ? 10 : 0), 'b')}});
    addChat(*server, {{colour::white, "c"}});
    EXPECT_EQ(server->rtbChat.lines().front().text(), std::string(8, 'b'));
}

// A client's text reaches the operator cut at 2,000 characters as shown, and the lines one client
// causes stop being shown once its share is spent, until time has given it more.
TEST_F(StartupTest, WhatAClientPutsBeforeTheOperatorIsCutAndRationed) {
    EXPECT_EQ(cutForTheOperator(std::string(2000, 'a')), std::string(2000, 'a'));
    EXPECT_EQ(cutForTheOperator(std::string(2001, 'a')), std::string(2000, 'a') + " \x85 (1 more characters)");
    EXPECT_EQ(cutForTheOperator("x" + std::string(600, '\x01')), "x" + std::string(499, '\x01') + " \x85 (404 more characters)");
    start();
    int talker = logOn("talker");
    logOn("hearer");
    // The view trims itself long before: every line is taken as it is added.
    struct : ChatSink {
        Lines lines;
        void lineAdded(const ChatLine& line) override { lines.push_back(line.text().substr(11)); }
    } seen;
    server->rtbChat.addSink(&seen);
    const std::string text(3000, 'w');
    const std::string shown = "<From talker to hearer" + cutForTheOperator("> " + text);
    ASSERT_EQ(shown.size(), 22u + 2000u + 25u);
    const std::size_t fits = static_cast<std::size_t>(viewBurst) / shown.size();
    for (std::size_t i = 0; i <= fits + 10; ++i) deliver(talker, frame(14, fields({"talker", "hearer", text})));
    ASSERT_EQ(seen.lines.size(), fits + 1);
    EXPECT_EQ(seen.lines.front(), shown);
    EXPECT_EQ(seen.lines.back(), "Connection #1 sends more than the operator can read; its lines are not shown for a while.");
    host.ticks += 1000;  // enough for fifteen more
    deliver(talker, frame(14, fields({"talker", "hearer", text})));
    EXPECT_EQ(Lines(seen.lines.end() - 2, seen.lines.end()), (Lines{"11 lines of connection #1 were not shown.", shown}));
    server->rtbChat.removeSink(&seen);
}

}  // namespace
}  // namespace murmur::test
