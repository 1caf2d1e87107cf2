// The dialogs clicked through offscreen as the operator would: what they show from the data files
// and the settings, what their buttons change and refuse, the exact bytes they write back, and
// the alternate port asked for when the configured one is taken.
#include <QtTest>
#include <QtWidgets>
#include <gtest/gtest.h>

#include "core/Branding.h"
#include "core/Lifecycle.h"
#include "support/ServerFixture.h"
#include "ui/About.h"
#include "ui/AlternatePort.h"
#include "ui/IdleSystem.h"
#include "ui/RestrictedChannels.h"
#include "ui/SettingsDialog.h"
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

// The server's messages and the dialogs' arrive in one list, in the order the operator sees them.
class DialogTest : public ::testing::Test, public Frontend {
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
    void messageBox(const std::string& text) override { messages.push_back(text); }

    // The settings dialog's number fields in the form's order; a null leaves that field as it is.
    static void fill(frmSettings* d, const std::vector<const char*>& texts) {
        QLineEdit* fields[] = {d->txtPort, d->txtSpamMessages, d->txtSpamTime, d->txtLoadConnects, d->txtLoadTime};
        for (std::size_t i = 0; i < texts.size(); ++i)
            if (texts[i]) enter(fields[i], texts[i]);
    }
    // Near the left edge, where a box's mark and caption are, however wide its layout makes it.
    static void click(std::initializer_list<QAbstractButton*> buttons) {
        for (QAbstractButton* b : buttons)
            QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->height() / 2, b->height() / 2));
    }
    // "Port Protocol Authentication WriteLogToFile | SpamControl MessageCount SecondsToCheck |
    // LoadControl AmountOfConnections AmountOfTime | the spam timer, the load timer"
    std::string stored() const {
        const Settings& s = server.settings;
        auto n = [](int v) { return std::to_string(v); };
        auto timer = [](const Timer& t) { return std::to_string(t.interval()) + (t.enabled() ? " on" : " off"); };
        return n(s.port) + " " + n(s.protocol) + " " + s.authentication + " " + s.writeLogToFile + " | " +
               s.spamControl + " " + n(s.messageCount) + " " + n(s.secondsToCheck) + " | " + s.loadControl + " " +
               n(s.amountOfConnections) + " " + n(s.amountOfTime) + " | " + timer(*server.tmrHandleJunk) + ", " +
               timer(*server.tmrLoad);
    }

    TempDir dir;
    FakeHost host;
    Server server{host, dir.path()};
    QPointer<QWidget> dialog;
    Lines messages, addresses;
};

TEST_F(DialogTest, RestrictedChannelsRefuseMainAreWrittenBackSplitAtPipesAndFallBackToTheDefaults) {
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

    // A single empty entry counts as none; an empty allowed file is not read.
    dir.write("RestrictedChannels.txt", "\r\n");
    dir.write("AllowedChannels.txt", "");
    d = open<frmRestricted>();
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

TEST_F(DialogTest, AboutBoxShowsTheTitleAndFollowsItsLinks) {
    auto* d = open<frmAbout>();
    EXPECT_EQ(d->windowTitle().toStdString(), "About - Murmur Murmur Server v1.2 by Halden by Halden");
    EXPECT_EQ(d->Label6->text().toStdString(), ":: Murmur Server Murmur Server v1.2 by Halden by Halden ::");
    for (QLabel* label : {d->Label3, d->Label5, d->Label6}) QTest::mouseClick(label, Qt::LeftButton);
    EXPECT_EQ(addresses, (Lines{branding::homeAddress, branding::networkAddress}));
    EXPECT_TRUE(d->isVisible());
    QTest::mouseClick(d->Label4, Qt::LeftButton);
    EXPECT_TRUE(closed());
}

TEST_F(DialogTest, SettingsShowWhatIsInEffectAndSaveCarriesChangesToTheTimersAndTheFile) {
    dir.write("MMConf.ini",
              "[Server]\r\nPort=5100\r\nProtocol=1\r\n"
              "[Settings]\r\nAuthentication=Y\r\nWriteLogToFile=y\r\n"
              "[Spam Control]\r\nEnabled=N\r\nMessageCount=7\r\nSecondsToCheck=9\r\n"
              "[Load Control]\r\nEnabled=Y\r\nAmountOfConnections=4\r\nAmountOfTime=20\r\n");
    startUp(server);
    auto* d = open<frmSettings>();
    // Only an exact "Y" ticks a box.
    std::vector<bool> marks{d->chkAuth->isChecked(), d->chkLogs->isChecked(), d->chkSpamControl->isChecked(),
                            d->chkLoad->isChecked(), d->opTCP->isChecked(), d->opUDP->isChecked()};
    EXPECT_EQ(marks, (std::vector<bool>{true, false, false, true, false, true}));
    Lines numbers;
    for (QLineEdit* field : {d->txtPort, d->txtSpamMessages, d->txtSpamTime, d->txtLoadConnects, d->txtLoadTime})
        numbers.push_back(field->text().toStdString());
    EXPECT_EQ(numbers, (Lines{"5100", "7", "9", "4", "20"}));

    fill(d, {"5000", "&HA", "32", "6", "45"});
    click({d->chkLogs, d->chkSpamControl, d->Command1});
    EXPECT_EQ(messages, Lines{});
    EXPECT_TRUE(closed());
    // The spam window waits for a counted line; load protection checks at once. The listener
    // keeps its port until the next start.
    EXPECT_EQ(stored(), "5000 1 Y Y | Y 10 32 | Y 6 45 | 32000 off, 45000 on");
    EXPECT_EQ(host.listener().localPort(), 5100);

    shutDown(server);
    EXPECT_EQ(dir.read("MMConf.ini"),
              "[Server]\r\nPort=5000\r\nProtocol=1\r\n"
              "[Settings]\r\nAuthentication=Y\r\nWriteLogToFile=Y\r\nIdleSystem=N\r\n"
              "[Spam Control]\r\nEnabled=Y\r\nMessageCount=10\r\nSecondsToCheck=32\r\n"
              "[Load Control]\r\nEnabled=Y\r\nAmountOfConnections=6\r\nAmountOfTime=45\r\n"
              "[Idle System]\r\nEnabled=N\r\nIdleTime=5\r\n");
}

// Each refusal keeps the dialog open and the timers as they were; all but the load time over 60,
// which is looked at last, store nothing.
TEST_F(DialogTest, SettingsRefusalsKeepTheDialogOpenAndCloseKeepsOnlyTheProtocol) {
    const char* _ = nullptr;
    const std::string range = " must be a whole number ", port = "Port" + range + "from 1 to 32767.",
                      count = "The number of messages" + range + "from 0 to 32767.",
                      spamTime = "The spam control time" + range + "of seconds from 0 to 32.",
                      connects = "The number of connects" + range + "from 0 to 32767.",
                      loadTime = "The load protection time" + range + "of seconds from 0 to 60.";
    struct Case {
        std::vector<const char*> fields;
        std::string message, stored = "4800 0 N N | Y 5 3 | N 5 3 | 3000 off, 3000 off";
    };
    startUp(server);
    for (const Case& c : std::vector<Case>{
             {{"48x0"}, "Port number must be numeric."}, {{""}, "Port number must be numeric."},
             {{"32768"}, port}, {{"-1"}, port}, {{"0"}, port}, {{_, "32768"}, count}, {{_, "-1"}, count},
             {{_, _, "33"}, spamTime}, {{_, _, "-1"}, spamTime}, {{_, _, _, "40000"}, connects},
             {{_, _, _, "-2"}, connects}, {{_, _, _, _, "32768"}, loadTime}, {{_, _, _, _, "-1"}, loadTime},
             {{_, _, _, _, "61"},
              "Load time is too great. Use a value of 60 or less.",
              "4800 0 N N | Y 8 10 | N 6 61 | 3000 off, 3000 off"},
         }) {
        SCOPED_TRACE(c.message + " " + std::to_string(c.fields.size()));
        messages.clear();
        auto* d = open<frmSettings>();
        fill(d, {"5000", "8", "10", "6", "45"});
        fill(d, c.fields);
        click({d->chkAuth, d->chkLoad, d->Command1});
        EXPECT_EQ(messages, Lines{c.message});
        EXPECT_FALSE(closed());
        EXPECT_EQ(stored(), c.stored);
        delete dialog.data();
    }

    // The protocol is taken at the click; "Close" stores nothing else.
    auto* d = open<frmSettings>();
    click({d->opUDP});
    EXPECT_EQ(server.settings.protocol, 1);
    fill(d, {"6000"});
    click({d->chkAuth, d->Command2});
    EXPECT_TRUE(closed());
    EXPECT_EQ(stored(), "4800 1 N N | Y 8 10 | N 6 61 | 3000 off, 3000 off");  // as the last refusal left them
    EXPECT_TRUE(open<frmSettings>()->opUDP->isChecked());
}

TEST_F(DialogTest, AlternatePortAsksUntilAFreePortIsGivenAndThenListensOnItUnsaved) {
    const std::string file = "[Server]\r\nPort=4800\r\n[Settings]\r\nAuthentication=Y\r\n";
    dir.write("MMConf.ini", file);
    server.frontend = this;
    auto& listener = static_cast<FakeListener&>(host.listener());
    listener.takenPorts = {4800, 4801};
    startUp(server);
    auto* d = open<frmAlternate>();
    auto choose = [&](const char* text) {
        enter(d->txtAltPort, text);
        QTest::mouseClick(d->Command1, Qt::LeftButton);
    };
    for (const char* text : {"", "port", "0", "32768", "4801"}) choose(text);
    EXPECT_FALSE(listener.isListening());
    choose("4900");
    const std::string taken = " is already in use. Please select an alternate port to listen on.";
    EXPECT_EQ(messages, (Lines{"The current port is already being used. Please select an alternate one to listen on.",
                               "The port 4800" + taken, "Enter a numeric value.", "Enter a numeric value.",
                               "Port must be a whole number from 1 to 32767.",
                               "Port must be a whole number from 1 to 32767.", "The port 4801" + taken,
                               "Since an alternate port has been used, your new settings will not be saved."}));
    EXPECT_EQ(listener.localPort(), 4900);
    EXPECT_TRUE(listener.isListening());
    EXPECT_EQ(server.settings.port, 4900);
    EXPECT_EQ(server.settings.authentication, "Y");  // the taken port loses none of the other settings
    std::vector<ChatPiece> lines;
    for (const ChatLine& line : server.rtbChat.lines()) lines.push_back(line.pieces.at(1));
    // No line claims the port that could not be taken.
    EXPECT_EQ(lines, (std::vector<ChatPiece>{{colour::yellow, "Murmur Server 1.2.0, data in " + dir.path()},
                                             {colour::red, "Port cannot be bound, already in use."},
                                             {colour::yellow, "Opening a new port..."},
                                             {colour::green, "Listening on port 4900..."}}));
    EXPECT_FALSE(d->isVisible());
    shutDown(server);
    EXPECT_EQ(dir.read("MMConf.ini"), file);
    EXPECT_EQ(server.rtbChat.lines().back().pieces.at(1),
              (ChatPiece{colour::yellow, "Shutting down: 0 users disconnected, settings not saved: an alternate port is in use."}));
}

}  // namespace
}  // namespace murmur::test
