// The Tools and Help dialogs clicked through as the operator would: what they show from the data
// files, what their buttons change, and the exact bytes they write back.
#include <QtTest>
#include <QtWidgets>
#include <gtest/gtest.h>

#include "core/Branding.h"
#include "support/ServerFixture.h"
#include "ui/About.h"
#include "ui/IdleSystem.h"
#include "ui/RestrictedChannels.h"
#include "ui/Shell.h"

namespace murmur::test {
namespace {

using Lines = std::vector<std::string>;

Lines items(const QListWidget* list) {
    Lines out;
    for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
    return out;
}

// With a double click: press, release, double-click, release, the order the window system reports.
void clickRow(QListWidget* list, int row, bool twice = false) {
    QPoint at = list->visualItemRect(list->item(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    if (!twice) return;
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

    TempDir dir;
    FakeHost host;
    Server server{host, dir.path()};
    QPointer<QWidget> dialog;
    Lines messages, addresses;
};

TEST_F(DialogTest, RestrictedChannelsRefuseMainAndAreWrittenBackSplitAtPipes) {
    // A last line without its end is not read.
    dir.write("RestrictedChannels.txt", "Admin Lounge\r\ncaf\xE9\r\nhand edited");
    dir.write("AllowedChannels.txt", "x\r\nhand");
    auto* d = open<frmRestricted>();
    EXPECT_EQ(items(d->lstRestricted), (Lines{"Admin Lounge", "café"}));
    EXPECT_EQ(items(d->lstAllowed), Lines{"x"});
    for (const char* name : {"MaIn", "main ", "a|b"}) {
        enter(d->txtRestricted, name);
        d->btnAdd->click();
    }
    EXPECT_EQ(messages, Lines{"You cannot restrict the main channel."});
    clickRow(d->lstRestricted, 0);
    d->btnRemove->click();
    d->btnRemove->click();  // a removal leaves nothing selected
    EXPECT_EQ(items(d->lstRestricted), (Lines{"café", "main ", "a|b"}));

    d->btnOk->click();
    EXPECT_TRUE(closed());
    EXPECT_EQ(server.restrictedChannels, (Lines{"caf\xE9", "main ", "a", "b"}));
    EXPECT_EQ(dir.read("RestrictedChannels.txt"), "caf\xE9\r\nmain \r\na\r\nb\r\n");
    EXPECT_EQ(server.allowedChannels, Lines{"x"});
    EXPECT_EQ(dir.read("AllowedChannels.txt"), "x\r\n");
}

TEST_F(DialogTest, EmptyChannelListsFallBackToTheDefaults) {
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

TEST_F(DialogTest, IdleMessagesAreEditedAndOkSetsTheFileTheRotationAndTheTimer) {
    server.settings.idleSystem = "Y";
    server.settings.idleTime = 5;
    server.tmrIdle->setEnabled(true);
    server.idleMinutes = 3;
    dir.write("Idles.txt", "one\r\ntwo %v\r\nhand edited");
    auto* d = open<frmIdleSystem>();
    EXPECT_EQ(items(d->lstIdles), (Lines{"one", "two %v"}));
    EXPECT_TRUE(d->chkIdleSystem->isChecked());
    EXPECT_EQ(d->txtIdleTime->text().toStdString(), "5");

    enter(d->txtIdleMessage, "uno");
    d->btnModify->click();  // nothing selected
    clickRow(d->lstIdles, 0);
    d->btnModify->click();
    clickRow(d->lstIdles, 1, true);
    EXPECT_EQ(d->txtIdleMessage->text().toStdString(), "two %v");
    for (const char* message : {"", "b|c"}) {
        enter(d->txtIdleMessage, message);
        d->btnAdd->click();
    }
    EXPECT_EQ(d->txtIdleMessage->text().toStdString(), "");
    clickRow(d->lstIdles, 1);
    d->btnRem->click();
    d->btnRem->click();  // a removal leaves nothing selected
    EXPECT_EQ(items(d->lstIdles), (Lines{"uno", "", "b|c"}));

    // One line a message in the file, the rotation split at pipes; the box stops the timer at once.
    d->chkIdleSystem->click();
    enter(d->txtIdleTime, "2");
    d->cmdOk->click();
    EXPECT_TRUE(closed());
    EXPECT_EQ(dir.read("Idles.txt"), "uno\r\n\r\nb|c\r\n");
    EXPECT_EQ(server.idleMessages, (Lines{"uno", "", "b", "c"}));
    EXPECT_EQ(server.settings.idleSystem, "N");
    EXPECT_EQ(server.settings.idleTime, 2);
    EXPECT_FALSE(server.tmrIdle->enabled());
    EXPECT_EQ(server.idleMinutes, 3);

    d = open<frmIdleSystem>();
    d->chkIdleSystem->click();
    d->cmdOk->click();
    EXPECT_EQ(server.settings.idleSystem, "Y");
    EXPECT_TRUE(server.tmrIdle->enabled());
}

TEST_F(DialogTest, AboutBoxShowsTheTitleAndThanksAndFollowsItsLinks) {
    auto* d = open<frmAbout>();
    EXPECT_EQ(d->windowTitle().toStdString(), "About - Murmur Murmur Server v1.2 by Halden by Halden");
    EXPECT_EQ(d->Label6->text().toStdString(), ":: Murmur Server Murmur Server v1.2 by Halden by Halden ::");
    EXPECT_EQ(d->txtThanks->toPlainText().toStdString(),
              "Everyone who runs a Murmur server\n"
              "Everyone who writes a client that speaks to one\n"
              "Everyone who tested this server and told us what they found\n");
    for (QLabel* label : {d->Label3, d->Label5, d->Label6}) QTest::mouseClick(label, Qt::LeftButton);
    EXPECT_EQ(addresses, (Lines{branding::homeAddress, branding::networkAddress}));
    EXPECT_TRUE(d->isVisible());
    QTest::mouseClick(d->Label4, Qt::LeftButton);
    EXPECT_TRUE(closed());
}

}  // namespace
}  // namespace murmur::test
