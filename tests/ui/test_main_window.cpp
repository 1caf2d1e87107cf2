// The operator's window follows the server's state: chat lines in their colours, the user list and
// its count, the console line, and the twips layout of the form.
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

// The chat view takes what the user-list column and the console band leave, but never shrinks
// below zero: then it keeps its last size and the others follow its edges.
TEST_F(MainWindowTest, ControlsFollowTheWindowSizeInTwips) {
    const int column = window.twips(2175), band = window.twips(1065);
    QWidget* area = window.centralWidget();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(area->size(), QSize(window.twips(10200), window.twips(5220)));
    for (QSize size : {QSize(640, 480), QSize(column - 20, 400), QSize(700, band - 10)}) {
        SCOPED_TRACE(size.width());
        const QSize before = window.rtbChat->size();
        window.resize(size + QSize(0, window.menuBar()->height()));
        QCoreApplication::processEvents();
        const int w = area->width() < column ? before.width() : area->width() - column;
        const int h = area->height() < band ? before.height() : area->height() - band;
        EXPECT_EQ(window.rtbChat->geometry(), QRect(0, 0, w, h));
        EXPECT_EQ(window.lblUsers->geometry(), QRect(w + 1, 0, column, window.twips(495)));
        EXPECT_EQ(window.lstUsers->geometry().topLeft(), QPoint(w + 1, window.twips(480)));
        EXPECT_EQ(window.txtConsole->geometry(), QRect(0, h, w + 1, band));
    }
}

}  // namespace
}  // namespace murmur::test
