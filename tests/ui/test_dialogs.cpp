// The Tools and Help dialogs clicked through as the operator would: what they show from the data
// files, what their buttons change, and the exact bytes they write back.
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/Branding.h"
#include "support/ServerFixture.h"
#include "ui/About.h"
#include "ui/IdleSystem.h"
#include "ui/RestrictedChannels.h"
#include "ui/Shell.h"

namespace murmur::test {
namespace {

using Lines = std::vector<std::string>;
const std::string kCannotWrite = " could not be written. Nothing was lost; press Ok to try again.";

Lines items(const QListWidget* list) {
    Lines out;
    for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
    return out;
}

void clickRow(QListWidget* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

// Press, release, double-click, release: the order the window system reports.
void doubleClickRow(QListWidget* list, int row) {
    QPoint at = list->visualItemRect(list->item(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
}

void enter(QLineEdit* edit, const QString& text) {
    edit->clear();
    QTest::keyClicks(edit, text);
}

class DialogTest : public ::testing::Test {
protected:
    DialogTest() {
        server.titleText = branding::titleText;
        setMessageListener([this](const QString& text) { messages.push_back(text.toStdString()); });
        setAddressListener([this](const QString& address) { addresses.push_back(address.toStdString()); });
    }
    ~DialogTest() override {
        delete dialog.data();
        setMessageListener(nullptr);
        setAddressListener(nullptr);
    }

    template <class D>
    D* open() {
        auto* d = new D(server);
        dialog = d;
        d->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(d));
        return d;
    }

    // Hidden and, once deferred deletes have run, gone.
    bool closed() {
        if (dialog && dialog->isVisible()) return false;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dialog.isNull();
    }

    void makeUnwritable(const std::string& name) { std::filesystem::create_directory(dir.file(name)); }

    TempDir dir;
    FakeHost host;
    Server server{host, dir.path()};
    QPointer<QWidget> dialog;
    Lines messages;
    Lines addresses;
};

using RestrictedTest = DialogTest;

TEST_F(RestrictedTest, OpensWithEveryEndedLineAndOkWritesThemBack) {
    dir.write("RestrictedChannels.txt", "Admin Lounge\r\ncaf\xE9\r\nhand edited");
    dir.write("AllowedChannels.txt", "x\r\nhand");
    auto* d = open<frmRestricted>();
    EXPECT_EQ(items(d->lstRestricted), (Lines{"Admin Lounge", "café"}));
    EXPECT_EQ(items(d->lstAllowed), Lines{"x"});

    d->btnOk->click();
    EXPECT_TRUE(closed());
    EXPECT_EQ(server.restrictedChannels, (Lines{"Admin Lounge", "caf\xE9"}));
    EXPECT_EQ(dir.read("RestrictedChannels.txt"), "Admin Lounge\r\ncaf\xE9\r\n");
    EXPECT_EQ(server.allowedChannels, Lines{"x"});
    EXPECT_EQ(dir.read("AllowedChannels.txt"), "x\r\n");
}

TEST_F(RestrictedTest, AddRefusesOnlyMainAndRemoveTakesOnlyASelectedNonEmptyEntry) {
    dir.write("RestrictedChannels.txt", "x\r\n\r\n");
    auto* d = open<frmRestricted>();
    d->btnAdd->click();
    enter(d->txtRestricted, "MaIn");
    d->btnAdd->click();
    EXPECT_EQ(messages, Lines{"You cannot restrict the main channel."});
    EXPECT_EQ(d->txtRestricted->text().toStdString(), "MaIn");
    for (const char* name : {"main ", "a|b", "a|b"}) {
        enter(d->txtRestricted, name);
        d->btnAdd->click();
        EXPECT_EQ(d->txtRestricted->text().toStdString(), "");
    }
    EXPECT_EQ(items(d->lstRestricted), (Lines{"x", "", "main ", "a|b", "a|b"}));
    EXPECT_EQ(messages.size(), 1u);

    d->btnRemove->click();
    clickRow(d->lstRestricted, 1);
    d->btnRemove->click();
    clickRow(d->lstRestricted, 0);
    d->btnRemove->click();
    d->btnRemove->click();  // a removal leaves nothing selected
    EXPECT_EQ(items(d->lstRestricted), (Lines{"", "main ", "a|b", "a|b"}));

    d->btnOk->click();
    EXPECT_EQ(server.restrictedChannels, (Lines{"", "main ", "a", "b", "a", "b"}));
    EXPECT_EQ(dir.read("RestrictedChannels.txt"), "\r\nmain \r\na\r\nb\r\na\r\nb\r\n");
}

TEST_F(RestrictedTest, EmptyListsFallBackToTheDefaults) {
    // A single empty entry counts as none; an empty allowed file is not read.
    dir.write("RestrictedChannels.txt", "\r\n");
    dir.write("AllowedChannels.txt", "");
    auto* d = open<frmRestricted>();
    EXPECT_EQ(items(d->lstRestricted), Lines{""});
    EXPECT_EQ(d->lstAllowed->count(), 0);

    d->btnOk->click();
    EXPECT_EQ(server.restrictedChannels, (Lines{"Admin Lounge", "Backstage"}));
    EXPECT_EQ(dir.read("RestrictedChannels.txt"), "Admin Lounge\r\nBackstage\r\n");
    EXPECT_EQ(server.allowedChannels, (Lines{"Main", "lobby"}));
    EXPECT_EQ(dir.read("AllowedChannels.txt"), "Main\r\nlobby\r\n");
}

TEST_F(RestrictedTest, AllowedControlsDoNothingAndCancelOrAFailedWriteStoresNothing) {
    dir.write("AllowedChannels.txt", "chess\r\n");
    server.restrictedChannels = {"old"};
    auto* d = open<frmRestricted>();
    enter(d->Text1, "games");
    d->btnRCAdd->click();
    clickRow(d->lstAllowed, 0);
    d->btnRCDel->click();
    d->chkACMode->click();
    EXPECT_EQ(items(d->lstAllowed), Lines{"chess"});
    EXPECT_EQ(d->Text1->text().toStdString(), "games");

    makeUnwritable("RestrictedChannels.txt");
    d->btnOk->click();
    EXPECT_EQ(messages, Lines{dir.file("RestrictedChannels.txt") + kCannotWrite});
    EXPECT_TRUE(d->isVisible());
    d->btnCancel->click();
    EXPECT_TRUE(closed());
    EXPECT_EQ(server.restrictedChannels, Lines{"old"});
    EXPECT_TRUE(server.allowedChannels.empty());
    EXPECT_EQ(dir.read("AllowedChannels.txt"), "chess\r\n");
}

class IdleTest : public DialogTest {
protected:
    IdleTest() {
        server.settings.idleSystem = "Y";
        server.settings.idleTime = 5;
        server.tmrIdle->setEnabled(true);
        server.idleMinutes = 3;
        server.idleMessages = {"old"};
    }
};

TEST_F(IdleTest, EditsTheRotationWithTheButtonsAndDoubleClicks) {
    dir.write("Idles.txt", "one\r\ntwo %v\r\nhand edited");
    auto* d = open<frmIdleSystem>();
    EXPECT_EQ(items(d->lstIdles), (Lines{"one", "two %v"}));
    EXPECT_TRUE(d->chkIdleSystem->isChecked());
    EXPECT_EQ(d->txtIdleTime->text().toStdString(), "5");

    enter(d->txtIdleMessage, "uno");
    d->btnModify->click();  // nothing selected
    clickRow(d->lstIdles, 0);
    d->btnModify->click();
    EXPECT_EQ(d->txtIdleMessage->text().toStdString(), "uno");
    doubleClickRow(d->lstIdles, 1);
    EXPECT_EQ(d->txtIdleMessage->text().toStdString(), "two %v");

    for (const char* message : {"", "three"}) {
        enter(d->txtIdleMessage, message);
        d->btnAdd->click();
        EXPECT_EQ(d->txtIdleMessage->text().toStdString(), "");
    }
    EXPECT_EQ(items(d->lstIdles), (Lines{"uno", "two %v", "", "three"}));

    // The empty message stays; a removal leaves nothing selected.
    clickRow(d->lstIdles, 2);
    d->btnRem->click();
    clickRow(d->lstIdles, 1);
    d->btnRem->click();
    d->btnRem->click();
    EXPECT_EQ(items(d->lstIdles), (Lines{"uno", "", "three"}));
}

TEST_F(IdleTest, OkWritesOneLineAMessageButSplitsTheRotationAtPipes) {
    auto* d = open<frmIdleSystem>();
    for (const char* message : {"a", "b|c", ""}) {
        enter(d->txtIdleMessage, message);
        d->btnAdd->click();
    }
    enter(d->txtIdleTime, "2");
    d->cmdOk->click();
    EXPECT_TRUE(closed());
    EXPECT_EQ(dir.read("Idles.txt"), "a\r\nb|c\r\n\r\n");
    EXPECT_EQ(server.idleMessages, (Lines{"a", "b", "c", ""}));
    EXPECT_EQ(server.settings.idleTime, 2);
    EXPECT_EQ(server.idleMinutes, 3);

    EXPECT_EQ(items(open<frmIdleSystem>()->lstIdles), (Lines{"a", "b|c", ""}));
}

TEST_F(IdleTest, EnableBoxStopsAndStartsTheTimerAtOnce) {
    server.settings.known.reset();
    auto* d = open<frmIdleSystem>();
    d->chkIdleSystem->click();
    d->cmdOk->click();
    EXPECT_EQ(server.settings.idleSystem, "N");
    EXPECT_FALSE(server.tmrIdle->enabled());
    EXPECT_TRUE(server.settings.known.test(Settings::idIdleSystem));
    EXPECT_TRUE(server.settings.known.test(Settings::idIdleTime));
    // An empty list gives an empty file and a rotation with nothing to announce.
    EXPECT_TRUE(dir.exists("Idles.txt"));
    EXPECT_EQ(dir.read("Idles.txt"), "");
    EXPECT_TRUE(server.idleMessages.empty());

    d = open<frmIdleSystem>();
    EXPECT_FALSE(d->chkIdleSystem->isChecked());
    d->chkIdleSystem->click();
    enter(d->txtIdleTime, "9");
    d->cmdOk->click();
    EXPECT_EQ(server.settings.idleSystem, "Y");
    EXPECT_EQ(server.settings.idleTime, 9);
    EXPECT_TRUE(server.tmrIdle->enabled());
    EXPECT_EQ(server.idleMinutes, 3);
}

TEST_F(IdleTest, UnusableIdleTimesAndFailedWritesStoreNothing) {
    auto* d = open<frmIdleSystem>();
    d->chkIdleSystem->click();
    for (const char* text : {"", "abc", "0", "-3", "2.5", "32768", "5 minutes"}) {
        enter(d->txtIdleTime, text);
        d->cmdOk->click();
    }
    EXPECT_EQ(messages, Lines(7, "Idle Time must be a whole number of minutes from 1 to 32767."));
    EXPECT_FALSE(dir.exists("Idles.txt"));

    messages.clear();
    makeUnwritable("Idles.txt");
    enter(d->txtIdleTime, "32767");
    d->cmdOk->click();
    EXPECT_EQ(messages, Lines{dir.file("Idles.txt") + kCannotWrite});
    EXPECT_TRUE(d->isVisible());
    d->cmdCancel->click();
    EXPECT_TRUE(closed());
    EXPECT_EQ(server.settings.idleSystem, "Y");
    EXPECT_EQ(server.settings.idleTime, 5);
    EXPECT_TRUE(server.tmrIdle->enabled());
    EXPECT_EQ(server.idleMessages, Lines{"old"});
}

TEST_F(DialogTest, AboutBoxShowsTheTitleAndThanksAndFollowsItsLinks) {
    auto* d = open<frmAbout>();
    EXPECT_EQ(d->windowTitle().toStdString(), "About - Murmur Murmur Server v1.2 by Halden by Halden");
    EXPECT_EQ(d->Label6->text().toStdString(), ":: Murmur Server Murmur Server v1.2 by Halden by Halden ::");
    EXPECT_EQ(d->txtThanks->toPlainText().toStdString(),
              "Everyone who runs a Murmur server\n"
              "Everyone who writes a client that speaks to one\n"
              "Everyone who tested this server and told us what they found\n");

    QTest::mouseClick(d->Label3, Qt::LeftButton);
    QTest::mouseClick(d->Label5, Qt::LeftButton);
    QTest::mouseClick(d->Label6, Qt::LeftButton);
    EXPECT_EQ(addresses, (Lines{branding::homeAddress, branding::networkAddress}));
    EXPECT_TRUE(d->isVisible());
    QTest::mouseClick(d->Label4, Qt::LeftButton);
    EXPECT_TRUE(closed());
}

}  // namespace
}  // namespace murmur::test
