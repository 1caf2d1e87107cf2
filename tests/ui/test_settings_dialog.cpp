// The settings dialog clicked through offscreen: what it shows, what "Save" stores and applies to
// the spam and load timers, what it refuses, and what reaches MMConf.ini.
#include <QtTest>
#include <QtWidgets>
#include <gtest/gtest.h>

#include "core/Lifecycle.h"
#include "support/ServerFixture.h"
#include "ui/SettingsDialog.h"
#include "ui/Shell.h"

namespace murmur::test {
namespace {

using Lines = std::vector<std::string>;

class SettingsDialogTest : public ::testing::Test {
protected:
    SettingsDialogTest() { setMessageListener([this](const QString& text) { messages.push_back(text.toStdString()); }); }
    ~SettingsDialogTest() override {
        delete dialog.data();
        setMessageListener({});
    }

    frmSettings& open() {
        dialog = new frmSettings(server);
        dialog->show();
        return *dialog;
    }
    // The number fields in the form's order; a null leaves that field as it is.
    void fill(const std::vector<const char*>& texts) {
        QLineEdit* fields[] = {dialog->txtPort, dialog->txtSpamMessages, dialog->txtSpamTime, dialog->txtLoadConnects,
                               dialog->txtLoadTime};
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (!texts[i]) continue;
            fields[i]->clear();
            QTest::keyClicks(fields[i], texts[i]);
        }
    }
    // Near the left edge, where a box's mark and caption are, however wide its layout makes it.
    static void click(std::initializer_list<QAbstractButton*> buttons) {
        for (QAbstractButton* b : buttons)
            QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->height() / 2, b->height() / 2));
    }
    bool closed() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dialog.isNull();
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
    QPointer<frmSettings> dialog;
    Lines messages;
};

TEST_F(SettingsDialogTest, ShowsTheSettingsAndSaveCarriesChangesToTheTimersAndTheFile) {
    dir.write("MMConf.ini",
              "[Server]\r\nPort=5100\r\nProtocol=1\r\n"
              "[Settings]\r\nAuthentication=Y\r\nWriteLogToFile=y\r\n"
              "[Spam Control]\r\nEnabled=N\r\nMessageCount=7\r\nSecondsToCheck=9\r\n"
              "[Load Control]\r\nEnabled=Y\r\nAmountOfConnections=4\r\nAmountOfTime=20\r\n");
    startUp(server);
    frmSettings& d = open();
    EXPECT_EQ(d.windowTitle().toStdString(), "Server Settings");
    // Only an exact "Y" ticks a box.
    std::vector<bool> marks{d.chkAuth->isChecked(), d.chkLogs->isChecked(), d.chkSpamControl->isChecked(),
                            d.chkLoad->isChecked(), d.opTCP->isChecked(), d.opUDP->isChecked()};
    EXPECT_EQ(marks, (std::vector<bool>{true, false, false, true, false, true}));
    Lines numbers;
    for (QLineEdit* field : {d.txtPort, d.txtSpamMessages, d.txtSpamTime, d.txtLoadConnects, d.txtLoadTime})
        numbers.push_back(field->text().toStdString());
    EXPECT_EQ(numbers, (Lines{"5100", "7", "9", "4", "20"}));

    fill({"5000", "&HA", "32", "6", "45"});
    click({d.chkLogs, d.chkSpamControl, d.Command1});
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
TEST_F(SettingsDialogTest, RefusalsKeepTheDialogOpen) {
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
        frmSettings& d = open();
        fill({"5000", "8", "10", "6", "45"});
        fill(c.fields);
        click({d.chkAuth, d.chkLoad, d.Command1});
        EXPECT_EQ(messages, Lines{c.message});
        EXPECT_FALSE(closed());
        EXPECT_EQ(stored(), c.stored);
        delete dialog.data();
    }
}

TEST_F(SettingsDialogTest, ProtocolIsTakenAtTheClickAndCloseStoresNothingElse) {
    startUp(server);
    frmSettings& d = open();
    click({d.opUDP});
    EXPECT_EQ(server.settings.protocol, 1);
    fill({"6000"});
    click({d.chkAuth, d.Command2});
    EXPECT_TRUE(closed());
    EXPECT_EQ(stored(), "4800 1 N N | Y 5 3 | N 5 3 | 3000 off, 3000 off");
    EXPECT_TRUE(open().opUDP->isChecked());
}

}  // namespace
}  // namespace murmur::test
