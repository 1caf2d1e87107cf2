// The settings dialog, clicked through offscreen: what it shows, what "Save" stores and applies to
// the spam and load timers, what it refuses, and what reaches MMConf.ini.
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Branding.h"
#include "core/Lifecycle.h"
#include "support/ServerFixture.h"
#include "ui/SettingsDialog.h"
#include "ui/Shell.h"

namespace murmur::test {
namespace {

const std::string kDefaults = "4800 0 N N | Y 5 3 | N 5 3";
const std::string kDefaultTimers = "spam 3000 off, load 3000 off";

class SettingsDialogTest : public ::testing::Test {
protected:
    SettingsDialogTest() {
        setMessageListener([this](const QString& text) { messages.push_back(text.toStdString()); });
        setAddressListener([this](const QString& address) { addresses.push_back(address.toStdString()); });
    }
    ~SettingsDialogTest() override {
        delete dialog.data();
        setMessageListener({});
        setAddressListener({});
    }

    frmSettings& open() {
        if (!started_) startUp(server);
        started_ = true;
        dialog = new frmSettings(server);
        dialog->show();
        return *dialog;
    }
    // The number fields in the form's order; a null leaves that field as it is.
    void fill(std::vector<const char*> texts) {
        QLineEdit* fields[] = {dialog->txtPort, dialog->txtSpamMessages, dialog->txtSpamTime, dialog->txtLoadConnects,
                               dialog->txtLoadTime};
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (!texts[i]) continue;
            fields[i]->clear();
            QTest::keyClicks(fields[i], texts[i]);
        }
    }
    // Near the left edge, where a box's mark and caption are, however wide its layout makes it.
    static void click(QAbstractButton* button) {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(button->height() / 2, button->height() / 2));
    }
    // WA_DeleteOnClose makes a closed dialog go.
    bool closed() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dialog.isNull();
    }

    // "Port Protocol Authentication WriteLogToFile | SpamControl MessageCount SecondsToCheck |
    // LoadControl AmountOfConnections AmountOfTime"
    std::string stored() const {
        const Settings& s = server.settings;
        auto n = [](int v) { return std::to_string(v); };
        return n(s.port) + " " + n(s.protocol) + " " + s.authentication + " " + s.writeLogToFile + " | " +
               s.spamControl + " " + n(s.messageCount) + " " + n(s.secondsToCheck) + " | " + s.loadControl + " " +
               n(s.amountOfConnections) + " " + n(s.amountOfTime);
    }
    std::string timers() const {
        auto state = [](const Timer& t) { return std::to_string(t.interval()) + (t.enabled() ? " on" : " off"); };
        return "spam " + state(*server.tmrHandleJunk) + ", load " + state(*server.tmrLoad);
    }

    TempDir dir;
    FakeHost host;
    Server server{host, dir.path()};
    QPointer<frmSettings> dialog;
    std::vector<std::string> messages;
    std::vector<std::string> addresses;

private:
    bool started_ = false;
};

TEST_F(SettingsDialogTest, ShowsTheSettingsAndSaveCarriesChangesToTheTimersAndTheFile) {
    dir.write("MMConf.ini",
              "[Server]\r\nPort=5100\r\nProtocol=1\r\n"
              "[Settings]\r\nAuthentication=Y\r\nWriteLogToFile=y\r\n"
              "[Spam Control]\r\nEnabled=N\r\nMessageCount=7\r\nSecondsToCheck=9\r\n"
              "[Load Control]\r\nEnabled=Y\r\nAmountOfConnections=4\r\nAmountOfTime=20\r\n");
    frmSettings& d = open();
    EXPECT_EQ(d.windowTitle().toStdString(), "Server Settings");
    // Only an exact "Y" ticks a box.
    EXPECT_TRUE(d.chkAuth->isChecked());
    EXPECT_FALSE(d.chkLogs->isChecked());
    EXPECT_FALSE(d.chkSpamControl->isChecked());
    EXPECT_TRUE(d.chkLoad->isChecked());
    EXPECT_TRUE(d.opUDP->isChecked());
    EXPECT_FALSE(d.opTCP->isChecked());
    for (auto [field, text] : {std::pair{d.txtPort, "5100"}, {d.txtSpamMessages, "7"}, {d.txtSpamTime, "9"},
                               {d.txtLoadConnects, "4"}, {d.txtLoadTime, "20"}})
        EXPECT_EQ(field->text().toStdString(), text) << field->objectName().toStdString();

    fill({"5000", "&HA", "32", "6", "45"});
    click(d.chkLogs);
    click(d.chkSpamControl);
    click(d.Command1);
    EXPECT_EQ(messages, std::vector<std::string>{});
    EXPECT_TRUE(closed());
    EXPECT_EQ(stored(), "5000 1 Y Y | Y 10 32 | Y 6 45");
    // The spam window waits for a counted line; load protection checks at once. The listener
    // keeps its port until the next start.
    EXPECT_EQ(timers(), "spam 32000 off, load 45000 on");
    EXPECT_EQ(host.listener().localPort(), 5100);

    shutDown(server);
    EXPECT_EQ(dir.read("MMConf.ini"),
              "[Server]\r\nPort=5000\r\nProtocol=1\r\n"
              "[Settings]\r\nAuthentication=Y\r\nWriteLogToFile=Y\r\nIdleSystem=N\r\n"
              "[Spam Control]\r\nEnabled=Y\r\nMessageCount=10\r\nSecondsToCheck=32\r\n"
              "[Load Control]\r\nEnabled=Y\r\nAmountOfConnections=6\r\nAmountOfTime=45\r\n"
              "[Idle System]\r\nEnabled=N\r\nIdleTime=5\r\n");
}

TEST_F(SettingsDialogTest, UntickedBoxesLeaveTheSpamTimerRunningAndStopTheLoadTimer) {
    frmSettings& d = open();
    server.tmrHandleJunk->setEnabled(true);
    server.tmrLoad->setEnabled(true);
    fill({nullptr, nullptr, "20"});
    click(d.chkSpamControl);
    click(d.Command1);
    EXPECT_TRUE(closed());
    EXPECT_EQ(stored(), "4800 0 N N | N 5 20 | N 5 3");
    EXPECT_EQ(timers(), "spam 3000 on, load 3000 off");
}

TEST_F(SettingsDialogTest, RefusalsStoreNothingAndKeepTheDialogOpen) {
    const std::string port = "Port must be a whole number from 1 to 32767.";
    const std::string count = "The number of messages must be a whole number from 0 to 32767.";
    const std::string spamTime = "The spam control time must be a whole number of seconds from 0 to 32.";
    const std::string connects = "The number of connects must be a whole number from 0 to 32767.";
    const std::string loadTime = "The load protection time must be a whole number of seconds from 0 to 60.";
    struct Case {
        std::vector<const char*> fields;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {{"48x0"}, "Port number must be numeric."},
             {{""}, "Port number must be numeric."},
             {{"32768"}, port},
             {{"-1"}, port},
             {{"0"}, port},
             {{nullptr, "32768"}, count},
             {{nullptr, "-1"}, count},
             {{nullptr, nullptr, "33"}, spamTime},
             {{nullptr, nullptr, "-1"}, spamTime},
             {{nullptr, nullptr, nullptr, "40000"}, connects},
             {{nullptr, nullptr, nullptr, "-2"}, connects},
             {{nullptr, nullptr, nullptr, nullptr, "32768"}, loadTime},
             {{nullptr, nullptr, nullptr, nullptr, "-1"}, loadTime},
         }) {
        SCOPED_TRACE(c.message + " " + std::to_string(c.fields.size()));
        messages.clear();
        frmSettings& d = open();
        fill({"5000", "8", "10", "6", "45"});
        fill(c.fields);
        click(d.chkAuth);
        click(d.chkLoad);
        click(d.Command1);
        EXPECT_EQ(messages, std::vector<std::string>{c.message});
        EXPECT_FALSE(closed());
        EXPECT_EQ(stored(), kDefaults);
        EXPECT_EQ(timers(), kDefaultTimers);
        delete dialog.data();
    }
}

TEST_F(SettingsDialogTest, LoadTimeOverSixtyIsRefusedAfterTheNumbersAreStored) {
    frmSettings& d = open();
    fill({nullptr, "8", "10", "6", "61"});
    click(d.chkAuth);
    click(d.chkLoad);
    click(d.Command1);
    EXPECT_EQ(messages, std::vector<std::string>{"Load time is too great. Use a value of 60 or less."});
    EXPECT_FALSE(closed());
    EXPECT_EQ(stored(), "4800 0 N N | Y 8 10 | N 6 61");
    EXPECT_EQ(timers(), kDefaultTimers);

    messages.clear();
    fill({nullptr, nullptr, nullptr, nullptr, "60"});
    click(d.Command1);
    EXPECT_EQ(messages, std::vector<std::string>{});
    EXPECT_TRUE(closed());
    EXPECT_EQ(stored(), "4800 0 Y N | Y 8 10 | Y 6 60");
    EXPECT_EQ(timers(), "spam 10000 off, load 60000 on");
}

TEST_F(SettingsDialogTest, NonNumericSpamOrLoadFieldsKeepBothOldValues) {
    frmSettings& d = open();
    fill({nullptr, "8", "ten", "", "30"});
    click(d.chkAuth);
    click(d.Command1);
    EXPECT_EQ(messages, std::vector<std::string>{});
    EXPECT_TRUE(closed());
    EXPECT_EQ(stored(), "4800 0 Y N | Y 5 3 | N 5 3");
}

TEST_F(SettingsDialogTest, ProtocolIsTakenAtTheClickAndCloseStoresNothingElse) {
    frmSettings& d = open();
    click(d.opUDP);
    EXPECT_EQ(server.settings.protocol, 1);
    fill({"6000"});
    click(d.chkAuth);
    click(d.Command2);
    EXPECT_TRUE(closed());
    EXPECT_EQ(stored(), "4800 1 N N | Y 5 3 | N 5 3");

    frmSettings& again = open();
    EXPECT_TRUE(again.opUDP->isChecked());
    click(again.opTCP);
    EXPECT_EQ(server.settings.protocol, 0);
}

TEST_F(SettingsDialogTest, CommunityLinkIsBlueOnTheBlackFormAndOpensTheAddress) {
    frmSettings& d = open();
    EXPECT_EQ(d.Label9->text().toStdString(), branding::communityAddress);
    EXPECT_EQ(d.Label9->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_EQ(d.Label8->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_EQ(d.Label8->palette().color(QPalette::Window), QColor(Qt::black));
    QTest::mouseClick(d.Label9, Qt::LeftButton);
    EXPECT_EQ(addresses, std::vector<std::string>{branding::communityAddress});
    EXPECT_FALSE(closed());
}

}  // namespace
}  // namespace murmur::test
