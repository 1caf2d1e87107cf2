// The alternate-port dialog that start-up shows when the configured port is taken: what it asks,
// what it refuses, and the port it then listens on for the rest of the run.
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Lifecycle.h"
#include "support/ServerFixture.h"
#include "ui/AlternatePort.h"
#include "ui/Shell.h"

namespace murmur::test {
namespace {

// The server's messages and the dialog's arrive in one list, in the order the operator sees them.
struct RecordingFrontend : Frontend {
    explicit RecordingFrontend(std::vector<std::string>& out) : out(out) {}
    void messageBox(const std::string& text) override { out.push_back(text); }
    std::vector<std::string>& out;
};

class AlternatePortTest : public ::testing::Test {
protected:
    AlternatePortTest() {
        setMessageListener([this](const QString& text) { messages.push_back(text.toStdString()); });
        server.frontend = &frontend;
        listener().takenPorts = {4800, 4801};
        startUp(server);
        messages.clear();
        dialog.show();
        QCoreApplication::processEvents();
    }
    ~AlternatePortTest() override { setMessageListener({}); }

    void choose(const char* text) {
        dialog.txtAltPort->clear();
        QTest::keyClicks(dialog.txtAltPort, text);
        QTest::mouseClick(dialog.Command1, Qt::LeftButton);
    }
    FakeListener& listener() { return static_cast<FakeListener&>(host.listener()); }

    TempDir dir;
    FakeHost host;
    Server server{host, dir.path()};
    std::vector<std::string> messages;
    RecordingFrontend frontend{messages};
    frmAlternate dialog{server};
    QSignalSpy chosen{&dialog, &frmAlternate::portChosen};
    QSignalSpy abandoned{&dialog, &frmAlternate::abandoned};
};

TEST_F(AlternatePortTest, AsksUntilAFreePortIsGivenAndThenListensOnItUnsaved) {
    EXPECT_EQ(messages, std::vector<std::string>{
                            "The port 4800 is already in use. Please select an alternate port to listen on."});
    messages.clear();
    for (const char* text : {"", "port", "0", "32768", "4801"}) choose(text);
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "Enter a numeric value.",
                            "Enter a numeric value.",
                            "Port must be a whole number from 1 to 32767.",
                            "Port must be a whole number from 1 to 32767.",
                            "The port 4801 is already in use. Please select an alternate port to listen on.",
                        }));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(listener().isListening());
    EXPECT_FALSE(server.settings.usingAlternatePort);

    messages.clear();
    std::size_t linesBefore = server.rtbChat.lines().size();
    choose("4900");
    EXPECT_EQ(messages,
              std::vector<std::string>{"Since an alternate port has been used, your new settings will not be saved."});
    EXPECT_EQ(listener().localPort(), 4900);
    EXPECT_TRUE(listener().isListening());
    EXPECT_EQ(server.settings.port, 4900);
    EXPECT_TRUE(server.settings.usingAlternatePort);
    std::vector<ChatPiece> lines;
    for (std::size_t i = linesBefore; i < server.rtbChat.lines().size(); ++i)
        lines.push_back(server.rtbChat.lines()[i].pieces.at(1));
    EXPECT_EQ(lines, (std::vector<ChatPiece>{
                         {colour::red, "Port cannot be bound, already in use."},
                         {colour::yellow, "Opening a new port..."},
                         {colour::green, "Listening on port 4900..."},
                     }));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(chosen.count(), 1);
    EXPECT_EQ(abandoned.count(), 0);

    shutDown(server);
    EXPECT_FALSE(dir.exists("MMConf.ini"));
}

TEST_F(AlternatePortTest, CloseBoxOrEscapeWithoutAPortAbandonsTheRun) {
    dialog.close();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(abandoned.count(), 1);
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(abandoned.count(), 2);
    EXPECT_EQ(chosen.count(), 0);
    EXPECT_FALSE(listener().isListening());
    EXPECT_FALSE(server.settings.usingAlternatePort);
}

}  // namespace
}  // namespace murmur::test
