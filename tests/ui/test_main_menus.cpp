// The operator window's menus: one dialog of each kind, and quitting.
#include <QtTest>
#include <QtWidgets>
#include <gtest/gtest.h>

#include "core/Lifecycle.h"
#include "support/ServerFixture.h"
#include "ui/About.h"
#include "ui/IdleSystem.h"
#include "ui/MainWindow.h"
#include "ui/RestrictedChannels.h"
#include "ui/SettingsDialog.h"
#include "ui/Shell.h"

namespace murmur::test {
namespace {

class MainMenusTest : public ::testing::Test {
protected:
    MainMenusTest() {
        setMessageListener([](const QString&) {});
        setAddressListener([](const QString&) {});
        startUp(server);
        window->showAfterStartUp();
        QApplication::processEvents();
    }
    ~MainMenusTest() override {
        delete window;
        setMessageListener(nullptr);
        setAddressListener(nullptr);
    }
    // How many of each dialog are open: settings, restricted channels, idle system, about.
    std::vector<int> open() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return {int(window->findChildren<frmSettings*>().size()), int(window->findChildren<frmRestricted*>().size()),
                int(window->findChildren<frmIdleSystem*>().size()), int(window->findChildren<frmAbout*>().size())};
    }

    TempDir dir;
    FakeHost host;
    Server server{host, dir.path()};
    frmMain* window = new frmMain(server);
};

TEST_F(MainMenusTest, EachDialogOpensOnceAndManageUsersDoesNothing) {
    window->mnuUsers->trigger();
    EXPECT_TRUE(window->findChildren<QDialog*>().isEmpty());
    for (int round = 0; round < 2; ++round)
        for (QAction* item : {window->mnuSettings, window->mnuRestChan, window->mnuIdleSystem, window->mnuAbout})
            item->trigger();
    EXPECT_EQ(open(), (std::vector<int>{1, 1, 1, 1}));
    // A closed dialog is gone; the next click makes a fresh one.
    window->findChild<frmAbout*>()->close();
    EXPECT_EQ(open(), (std::vector<int>{1, 1, 1, 0}));
    window->mnuAbout->trigger();
    EXPECT_EQ(open(), (std::vector<int>{1, 1, 1, 1}));
}

TEST_F(MainMenusTest, QuitClosesTheDialogsAndSavesTheSettings) {
    window->mnuSettings->trigger();
    window->mnuIdleSystem->trigger();
    window->mnuQuit->trigger();
    EXPECT_EQ(open(), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->windowTitle().toStdString(), "Murmur Server v1.2 by Halden - Server Listener");
    EXPECT_EQ(dir.read("MMConf.ini").rfind("[Server]\r\nPort=4800\r\n", 0), 0u);
}

}  // namespace
}  // namespace murmur::test
