// The operator's window follows the server's state: chat lines with their colours, the user list
// and its count, the console line, and the twips layout of the form.
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "core/ChatView.h"
#include "core/UserList.h"
#include "support/ServerFixture.h"
#include "ui/MainWindow.h"

namespace murmur::test {
namespace {

const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kGreen(0, 255, 0);
const QColor kCyan(0, 255, 255);
const QColor kBlue(0, 102, 204);

// A stretch of one colour as the widget holds it.
struct Run {
    std::string text;  // UTF-8
    QColor colour;
    bool operator==(const Run&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Run& run) {
    return out << '"' << run.text << "\" " << run.colour.name().toStdString();
}
using Block = std::vector<Run>;

// Every paragraph of the widget's document, as runs of one colour.
std::vector<Block> blocks(const QTextEdit* edit) {
    std::vector<Block> out;
    for (QTextBlock block = edit->document()->begin(); block.isValid(); block = block.next()) {
        Block runs;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QTextFragment fragment = it.fragment();
            runs.push_back({fragment.text().toStdString(), fragment.charFormat().foreground().color()});
        }
        out.push_back(runs);
    }
    return out;
}

// Types the text as the keyboard would, one character a key, whatever characters it holds.
void type(QWidget* widget, const QString& text) {
    for (QChar c : text) QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Long texts compared where they first differ, so a failure shows the place instead of the whole.
::testing::AssertionResult sameText(const std::string& shown, const std::string& expected) {
    if (shown == expected) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < shown.size() && at < expected.size() && shown[at] == expected[at]) ++at;
    std::size_t from = at < 40 ? 0 : at - 40;
    return ::testing::AssertionFailure() << "differs at offset " << at << " of " << shown.size() << " (expected "
                                         << expected.size() << ")\n  shown:    \"" << shown.substr(from, 80)
                                         << "\"\n  expected: \"" << expected.substr(from, 80) << '"';
}

class MainWindowTest : public ::testing::Test {
protected:
    std::string chat() const { return window.rtbChat->toPlainText().toStdString(); }

    std::vector<std::string> users() const {
        std::vector<std::string> out;
        for (int i = 0; i < window.lstUsers->count(); ++i) out.push_back(window.lstUsers->item(i)->text().toStdString());
        return out;
    }

    // What the chat model holds, with each remaining line end shown as one line break.
    std::string modelText() const {
        std::string out;
        for (const ChatLine& line : server.rtbChat.lines()) {
            out += toQString(line.text()).toStdString();
            if (line.lineEnd > 0) out += "\n";
        }
        return out;
    }

    // Appends lines numbered with `width` digits until the model passes the trim threshold, then
    // one more, which trims. Returns the number of lines appended.
    int fillPastTrim(std::size_t width) {
        int n = 0;
        auto append = [&] {
            std::string number = std::to_string(n++);
            addChat(server, {{colour::red, std::string(width - number.size(), '0') + number}});
        };
        while (server.rtbChat.length() <= ChatView::trimThreshold) append();
        append();
        return n;
    }

    TempDir dir;
    FakeHost host;
    Server server{host, dir.path()};
    frmMain window{server};
};

TEST_F(MainWindowTest, ChatLinesAppearWithTheirColoursUntilCleared) {
    addChat(server, {{colour::red, "x"}, {colour::yellow, "y"}});
    EXPECT_EQ(chat(), "[12:34:56] xy\n");
    EXPECT_EQ(blocks(window.rtbChat), (std::vector<Block>{
                                          {{"[12:34:56] ", kWhite}, {"x", kRed}, {"y", kYellow}},
                                          {},
                                      }));

    // Earlier lines keep their colours; Windows-1252 bytes show as their characters.
    addChat(server, {{colour::green, "caf\xE9 "}, {colour::cyan, "\x80"}, {colour::blue, "5"}});
    EXPECT_EQ(chat(), "[12:34:56] xy\n[12:34:56] café €5\n");
    EXPECT_EQ(blocks(window.rtbChat), (std::vector<Block>{
                                          {{"[12:34:56] ", kWhite}, {"x", kRed}, {"y", kYellow}},
                                          {{"[12:34:56] ", kWhite}, {"café ", kGreen}, {"€", kCyan}, {"5", kBlue}},
                                          {},
                                      }));

    server.rtbChat.clear();
    EXPECT_EQ(chat(), "");
    addChat(server, {{colour::yellow, "again"}});
    EXPECT_EQ(chat(), "[12:34:56] again\n");
}

TEST_F(MainWindowTest, TrimmedModelIsShownAsItStands) {
    // 99-character lines: the cut takes 505 whole lines and "[12:3" of the next.
    EXPECT_EQ(fillPastTrim(86), 1012);
    EXPECT_TRUE(sameText(chat(), modelText()));
    std::vector<Block> shown = blocks(window.rtbChat);
    ASSERT_EQ(shown.size(), 508u);
    EXPECT_EQ(shown[0], (Block{{"4:56] ", kWhite}, {std::string(83, '0') + "505", kRed}}));
    EXPECT_EQ(shown[506], (Block{{"[12:34:56] ", kWhite}, {std::string(82, '0') + "1011", kRed}}));
}

TEST_F(MainWindowTest, TrimThatLeavesALoneLineEndShowsItAsAnEmptyLine) {
    // 21-character lines: the cut takes 2380 whole lines and all of the next but its LF.
    EXPECT_EQ(fillPastTrim(8), 4763);
    ASSERT_EQ(server.rtbChat.lines().front().lineEnd, 1);
    EXPECT_EQ(chat().substr(0, 21), "\n[12:34:56] 00002381\n");
    EXPECT_TRUE(sameText(chat(), modelText()));
}

TEST_F(MainWindowTest, UserListAndCountLabelFollowTheServer) {
    addToUserList(server, "%admin");
    addToUserList(server, "bob");
    refreshCountLabel(server);
    EXPECT_EQ(users(), (std::vector<std::string>{"%admin", "bob"}));
    EXPECT_EQ(window.lblUsers->text().toStdString(), "Total Users: 2");

    addToUserList(server, "carol");
    addToUserList(server, "bob");
    EXPECT_TRUE(removeFirstFromUserList(server, [](const std::string& name) { return name == "bob"; }));
    refreshCountLabel(server);
    EXPECT_EQ(users(), (std::vector<std::string>{"%admin", "carol", "bob"}));
    EXPECT_EQ(window.lblUsers->text().toStdString(), "Total Users: 3");

    replaceUserList(server, {"dave", "\xC9ve"});
    refreshCountLabel(server);
    EXPECT_EQ(users(), (std::vector<std::string>{"dave", "Éve"}));
    EXPECT_EQ(window.lblUsers->text().toStdString(), "Total Users: 2");

    clearUserList(server);
    refreshCountLabel(server);
    EXPECT_EQ(users(), std::vector<std::string>{});
    EXPECT_EQ(window.lblUsers->text().toStdString(), "Total Users: 0");
}

TEST_F(MainWindowTest, ConsoleHandsEachEntryToTheServerOnce) {
    std::vector<std::string> entries;
    server.consoleHandler = [&](const std::string& text) { entries.push_back(text); };
    QLineEdit* edit = window.txtConsole->lineEdit();
    auto items = [&] {
        std::vector<std::string> out;
        for (int i = 0; i < window.txtConsole->count(); ++i) out.push_back(window.txtConsole->itemText(i).toStdString());
        return out;
    };

    QTest::keyClicks(edit, "hello");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(entries, std::vector<std::string>{"hello"});
    EXPECT_EQ(edit->text().toStdString(), "");
    EXPECT_EQ(items(), std::vector<std::string>{"hello"});

    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(entries, std::vector<std::string>{"hello"});

    type(edit, QStringLiteral("café €5"));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(entries, (std::vector<std::string>{"hello", "caf\xE9 \x80" "5"}));
    EXPECT_EQ(edit->text().toStdString(), "");
    EXPECT_EQ(items(), (std::vector<std::string>{"café €5", "hello"}));

    // An entry offered already is handed on again but not offered twice.
    QTest::keyClicks(edit, "hello");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(entries, (std::vector<std::string>{"hello", "caf\xE9 \x80" "5", "hello"}));
    EXPECT_EQ(items(), (std::vector<std::string>{"café €5", "hello"}));
}

TEST_F(MainWindowTest, ControlsFollowTheWindowSizeInTwips) {
    const int column = window.twips(2175);
    const int band = window.twips(1065);
    QWidget* area = window.centralWidget();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    auto expectLaidOut = [&] {
        const int chatW = area->width() - column;
        const int chatH = area->height() - band;
        ASSERT_GT(chatW, 0);
        ASSERT_GT(chatH, 0);
        EXPECT_EQ(window.rtbChat->geometry(), QRect(0, 0, chatW, chatH));
        EXPECT_EQ(window.lblUsers->geometry(), QRect(chatW + 1, 0, column, window.twips(495)));
        EXPECT_EQ(window.lstUsers->geometry().topLeft(), QPoint(chatW + 1, window.twips(480)));
        EXPECT_EQ(window.txtConsole->geometry(), QRect(0, chatH, chatW + 1, band));
    };
    {
        SCOPED_TRACE("as first shown");
        EXPECT_EQ(area->size(), QSize(window.twips(10200), window.twips(5220)));
        expectLaidOut();
    }
    for (QSize size : {QSize(900, 600), QSize(640, 480)}) {
        SCOPED_TRACE(size.width());
        window.resize(size + QSize(0, window.menuBar()->height()));
        QCoreApplication::processEvents();
        ASSERT_EQ(area->size(), size);
        expectLaidOut();
    }

    // Too narrow for the user-list column: the chat view keeps its width, the height still follows.
    const int keptW = window.rtbChat->width();
    window.resize(column - 20, 400);
    QCoreApplication::processEvents();
    ASSERT_LT(area->width(), column);
    EXPECT_EQ(window.rtbChat->geometry(), QRect(0, 0, keptW, area->height() - band));
    EXPECT_EQ(window.lstUsers->x(), keptW + 1);
    EXPECT_EQ(window.lblUsers->x(), keptW + 1);
    EXPECT_EQ(window.txtConsole->geometry(), QRect(0, area->height() - band, keptW + 1, band));

    // Too low for the console band: the chat view keeps its height.
    const int keptH = window.rtbChat->height();
    window.resize(700, band - 10);
    QCoreApplication::processEvents();
    ASSERT_LT(area->height(), band);
    EXPECT_EQ(window.rtbChat->geometry(), QRect(0, 0, area->width() - column, keptH));
    EXPECT_EQ(window.txtConsole->y(), keptH);
}

TEST_F(MainWindowTest, ControlsCarryTheFormsNames) {
    EXPECT_EQ(window.findChild<QTextEdit*>("rtbChat"), window.rtbChat);
    EXPECT_EQ(window.findChild<QListWidget*>("lstUsers"), window.lstUsers);
    EXPECT_EQ(window.findChild<QLabel*>("lblUsers"), window.lblUsers);
    EXPECT_EQ(window.findChild<QComboBox*>("txtConsole"), window.txtConsole);
}

}  // namespace
}  // namespace murmur::test
