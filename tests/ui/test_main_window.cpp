// The operator's window follows the server's state: chat lines in their colours, the user list and
// its count, and the console line.
#include <QtTest>
#include <QtWidgets>
#include <gtest/gtest.h>

#include "core/UserList.h"
#include "support/ServerFixture.h"
#include "ui/MainWindow.h"

namespace murmur::test {
namespace {

using Lines = std::vector<std::string>;

class MainWindowTest : public ::testing::Test {
protected:
    // Each paragraph of the chat view as its runs of one colour, "text=#colour" joined by "|".
    Lines chat() const {
        Lines out;
        for (QTextBlock block = window.rtbChat->document()->begin(); block.isValid(); block = block.next()) {
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
        for (int i = 0; i < window.lstUsers->count(); ++i) out.push_back(window.lstUsers->item(i)->text().toStdString());
        out.push_back(window.lblUsers->text().toStdString());
        return out;
    }

    TempDir dir;
    FakeHost host;
    Server server{host, dir.path()};
    frmMain window{server};
};

TEST_F(MainWindowTest, ChatLinesAppearInTheirColoursUntilCleared) {
    addChat(server, {{colour::red, "x"}, {colour::yellow, "y"}});
    // Windows-1252 bytes show as their characters.
    addChat(server, {{colour::green, "caf\xE9 "}, {colour::cyan, "\x80"}, {colour::blue, "5"}});
    EXPECT_EQ(window.rtbChat->toPlainText().toStdString(), "[12:34:56] xy\n[12:34:56] café €5\n");
    EXPECT_EQ(chat(), (Lines{"[12:34:56] =#ffffff|x=#ff0000|y=#ffff00",
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
    QLineEdit* edit = window.txtConsole->lineEdit();
    // "café €5" typed one key a character, an empty entry, and "hello" again.
    for (QString text : {QStringLiteral("hello"), QStringLiteral("café €5"), QString(), QStringLiteral("hello")}) {
        for (QChar c : text) QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_EQ(edit->text().toStdString(), "");
    }
    EXPECT_EQ(entries, (Lines{"hello", "caf\xE9 \x80" "5", "hello"}));
    Lines offered;
    for (int i = 0; i < window.txtConsole->count(); ++i) offered.push_back(window.txtConsole->itemText(i).toStdString());
    EXPECT_EQ(offered, (Lines{"café €5", "hello"}));
}

}  // namespace
}  // namespace murmur::test
