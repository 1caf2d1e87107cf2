// The alternate-port dialog start-up shows when the configured port is taken: what it asks and
// refuses, and the port it then listens on for the rest of the run.
#include <QtTest>
#include <QtWidgets>
#include <gtest/gtest.h>

#include "core/Lifecycle.h"
#include "support/ServerFixture.h"
#include "ui/AlternatePort.h"
#include "ui/Shell.h"

namespace murmur::test {
namespace {

using Lines = std::vector<std::string>;

// The server's messages and the dialog's arrive in one list, in the order the operator sees them.
struct RecordingFrontend : Frontend {
    void messageBox(const std::string& text) override { messages.push_back(text); }
    Lines messages;
};

TEST(AlternatePort, AsksUntilAFreePortIsGivenAndThenListensOnItUnsaved) {
    TempDir dir;
    FakeHost host;
    Server server{host, dir.path()};
    RecordingFrontend frontend;
    setMessageListener([&](const QString& text) { frontend.messages.push_back(text.toStdString()); });
    server.frontend = &frontend;
    auto& listener = static_cast<FakeListener&>(host.listener());
    listener.takenPorts = {4800, 4801};
    startUp(server);
    frontend.messages.clear();
    frmAlternate dialog{server};
    dialog.show();
    QCoreApplication::processEvents();
    auto choose = [&](const char* text) {
        dialog.txtAltPort->clear();
        QTest::keyClicks(dialog.txtAltPort, text);
        QTest::mouseClick(dialog.Command1, Qt::LeftButton);
    };
    for (const char* text : {"", "port", "0", "32768", "4801"}) choose(text);
    EXPECT_FALSE(listener.isListening());
    std::size_t linesBefore = server.rtbChat.lines().size();
    choose("4900");
    const std::string taken = " is already in use. Please select an alternate port to listen on.";
    EXPECT_EQ(frontend.messages, (Lines{"The port 4800" + taken, "Enter a numeric value.", "Enter a numeric value.",
                                        "Port must be a whole number from 1 to 32767.",
                                        "Port must be a whole number from 1 to 32767.", "The port 4801" + taken,
                                        "Since an alternate port has been used, your new settings will not be saved."}));
    EXPECT_EQ(listener.localPort(), 4900);
    EXPECT_TRUE(listener.isListening());
    EXPECT_EQ(server.settings.port, 4900);
    std::vector<ChatPiece> lines;
    for (std::size_t i = linesBefore; i < server.rtbChat.lines().size(); ++i)
        lines.push_back(server.rtbChat.lines()[i].pieces.at(1));
    EXPECT_EQ(lines, (std::vector<ChatPiece>{{colour::red, "Port cannot be bound, already in use."},
                                             {colour::yellow, "Opening a new port..."},
                                             {colour::green, "Listening on port 4900..."}}));
    EXPECT_FALSE(dialog.isVisible());
    shutDown(server);
    EXPECT_FALSE(dir.exists("MMConf.ini"));
    setMessageListener({});
}

}  // namespace
}  // namespace murmur::test
