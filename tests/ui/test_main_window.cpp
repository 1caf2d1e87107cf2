// The operator's window follows the server's state: chat lines in their colours, the user list and
// its count, and the console line. Its menus open one dialog of each kind, and quitting.
#include <QtTest>
#include <QtWidgets>
#include <gtest/gtest.h>

#include "core/Lifecycle.h"
#include "core/UserList.h"
#include "support/ServerFixture.h"
#include "ui/About.h"
#include "ui/IdleSystem.h"
#include "ui/MainWindow.h"
#include "ui/RestrictedChannels.h"
#include "ui/SettingsDialog.h"
#include "ui/Shell.h"

namespace murmur::test {
namespace {

using Lines = std::vector<std::string>;

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        setMessageListener([](const QString&) {});
        setAddressListener([](const QString&) {});
        startUp(server);
        window->showAfterStartUp();
        QApplication::processEvents();
    }
    ~MainWindowTest() override {
        delete window;
        setMessageListener(nullptr);
        setAddressListener(nullptr);
    }
    // Each paragraph of the chat view as its runs of one colour, "text=#colour" joined by "|".
    Lines chat() const {
        Lines out;
        for (QTextBlock block = window->rtbChat->document()->begin(); block.isValid(); block = block.next()) {
            std::string runs;
            for (auto it = block.begin(); !it.atEnd(); ++it)
                runs += (runs.empty() ? "" : "|") + it.fragment().text().toStdString() + "=" +
                        it.fragment().charFormat().foreground().color().name().toStdString();
            out.push_back(runs);
        }
        return out;
    }
    // The list's entries and then the label.
    Lines users() const {
        Lines out;
        for (int i = 0; i < window->lstUsers->count(); ++i) out.push_back(window->lstUsers->item(i)->text().toStdString());
        out.push_back(window->lblUsers->text().toStdString());
        return out;
    }
    // How many of each dialog are open: settings, restricted channels, idle system, about.
    std::vector<int> open() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return {int(window->findChildren<frmSettings*>().size()), int(window->findChildren<frmRestricted*>().size()),
                int(window->findChildren<frmIdleSystem*>().size()), int(window->findChildren<frmAbout*>().size())};
    }

    TempDir dir;
    FakeHost host;
    Server server{host, dir.path()};
    frmMain* window = new frmMain(server);
};

TEST_F(MainWindowTest, ChatLinesAppearInTheirColoursUntilCleared) {
    addChat(server, {{colour::red, "x"}, {colour::yellow, "y"}});
    // Windows-1252 bytes show as their characters.
    addChat(server, {{colour::green, "caf\xE9 "}, {colour::cyan, "\x80"}, {colour::blue, "5"}});
    EXPECT_EQ(chat(), (Lines{"[12:34:56] =#ffffff|Murmur Server 1.2.0, data in " + dir.path() + "=#ffff00",
                             "[12:34:56] =#ffffff|Listening on port 4800...=#ffff00", "[12:34:56] =#ffffff|x=#ff0000|y=#ffff00",
                             "[12:34:56] =#ffffff|café =#00ff00|€=#00ffff|5=#0066cc", ""}));
    server.rtbChat.clear();
    addChat(server, {{colour::yellow, "again"}});
    EXPECT_EQ(chat(), (Lines{"[12:34:56] =#ffffff|again=#ffff00", ""}));
}

TEST_F(MainWindowTest, UserListAndCountLabelFollowTheServer) {
    for (const char* name : {"%admin", "bob", "carol", "bob"}) addToUserList(server, name);
    EXPECT_TRUE(removeFirstFromUserList(server, [](const std::string& name) { return name == "bob"; }));
    refreshCountLabel(server);
    EXPECT_EQ(users(), (Lines{"%admin", "carol", "bob", "Total Users: 3"}));
    replaceUserList(server, {"dave", "\xC9ve"});
    refreshCountLabel(server);
    EXPECT_EQ(users(), (Lines{"dave", "Éve", "Total Users: 2"}));
    clearUserList(server);
    refreshCountLabel(server);
    EXPECT_EQ(users(), Lines{"Total Users: 0"});
}

TEST_F(MainWindowTest, EnterHandsEachEntryToTheServerAndOffersItOnce) {
    Lines entries;
    server.consoleHandler = [&](const std::string& text) { entries.push_back(text); };
    QLineEdit* edit = window->txtConsole->lineEdit();
    // "café €5" typed one key a character, an empty entry, and "hello" again.
    for (QString text : {QStringLiteral("hello"), QStringLiteral("café €5"), QString(), QStringLiteral("hello")}) {
        for (QChar c : text) QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_EQ(edit->text().toStdString(), "");
    }
    EXPECT_EQ(entries, (Lines{"hello", "caf\xE9 \x80" "5", "hello"}));
    Lines offered;
    for (int i = 0; i < window->txtConsole->count(); ++i) offered.push_back(window->txtConsole->itemText(i).toStdString());
    EXPECT_EQ(offered, (Lines{"café €5", "hello"}));
}

TEST_F(MainWindowTest, EachDialogOpensOnceAndManageUsersDoesNothing) {
    window->mnuUsers->trigger();
    EXPECT_TRUE(window->findChildren<QDialog*>().isEmpty());
    for (int round = 0; round < 2; ++round)
        for (QAction* item : {window->mnuSettings, window->mnuRestChan, window->mnuIdleSystem, window->mnuAbout})
            item->trigger();
    EXPECT_EQ(open(), (std::vector<int>{1, 1, 1, 1}));
    // A closed dialog is gone; the next click makes a fresh one.
    window->findChild<frmAbout*>()->close();
    EXPECT_EQ(open(), (std::vector<int>{1, 1, 1, 0}));
    window->mnuAbout->trigger();
    EXPECT_EQ(open(), (std::vector<int>{1, 1, 1, 1}));
}

TEST_F(MainWindowTest, QuitClosesTheDialogsAndSavesTheSettings) {
    window->mnuSettings->trigger();
    window->mnuIdleSystem->trigger();
    window->mnuQuit->trigger();
    EXPECT_EQ(open(), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->windowTitle().toStdString(), "Murmur Server v1.2 by Halden - Server Listener");
    EXPECT_EQ(dir.read("MMConf.ini").rfind("[Server]\r\nPort=4800\r\n", 0), 0u);
}

}  // namespace
}  // namespace murmur::test
