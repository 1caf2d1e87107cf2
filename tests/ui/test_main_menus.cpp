// The operator window's menus: what each item is called and does, one dialog of each kind, the
// tray, and quitting.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
        setMessageListener([this](const QString& text) { messages.push_back(text.toStdString()); });
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

    // "caption=objectName" of every entry of a menu, separators as "-".
    static std::vector<std::string> entries(QMenu* menu) {
        std::vector<std::string> out;
        for (QAction* action : menu->actions())
            out.push_back(action->isSeparator() ? "-=" + action->objectName().toStdString()
                                                : action->text().toStdString() + "=" + action->objectName().toStdString());
        return out;
    }

    template <typename Dialog>
    int open() const {
        return static_cast<int>(window->findChildren<Dialog*>().size());
    }

    TempDir dir;
    FakeHost host;
    Server server{host, dir.path()};
    frmMain* window = new frmMain(server);
    std::vector<std::string> messages;
};

TEST_F(MainMenusTest, TheMenuBarHoldsEveryItemUnderItsName) {
    std::vector<std::string> menus;
    for (QAction* action : window->menuBar()->actions())
        menus.push_back(action->text().toStdString() + "=" + action->menu()->objectName().toStdString());
    EXPECT_EQ(menus, (std::vector<std::string>{"Server=mnuServer", "Tools=mnuTools", "Window=mnuWindow", "Help=mnuHelp"}));
    EXPECT_EQ(entries(window->mnuServer), (std::vector<std::string>{"Settings=mnuSettings", "-=mnuDiv2", "Quit=mnuQuit"}));
    EXPECT_EQ(entries(window->mnuTools),
              (std::vector<std::string>{"Add Restricted Channels ...=mnuRestChan", "Manage Users=mnuUsers",
                                        "Manage Idle System=mnuIdleSystem"}));
    EXPECT_EQ(entries(window->mnuWindow), std::vector<std::string>{"Minimize To Tray=mnuMinToTray"});
    EXPECT_EQ(entries(window->mnuHelp), std::vector<std::string>{"About=mnuAbout"});
    EXPECT_EQ(window->windowTitle().toStdString(), "Murmur Server v1.2 by Halden - Server Listener");
    EXPECT_FALSE(window->windowIcon().isNull());
}

TEST_F(MainMenusTest, EachDialogOpensOnceAndManageUsersDoesNothing) {
    window->mnuUsers->trigger();
    EXPECT_TRUE(window->findChildren<QDialog*>().isEmpty());

    for (int round = 0; round < 2; ++round) {
        window->mnuSettings->trigger();
        window->mnuRestChan->trigger();
        window->mnuIdleSystem->trigger();
        window->mnuAbout->trigger();
        QApplication::processEvents();
    }
    EXPECT_EQ(open<frmSettings>(), 1);
    EXPECT_EQ(open<frmRestricted>(), 1);
    EXPECT_EQ(open<frmIdleSystem>(), 1);
    EXPECT_EQ(open<frmAbout>(), 1);
    EXPECT_TRUE(window->findChild<frmSettings*>()->isVisible());

    // A closed dialog is gone; the next click makes a fresh one.
    window->findChild<frmAbout*>()->close();
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(open<frmAbout>(), 0);
    window->mnuAbout->trigger();
    EXPECT_EQ(open<frmAbout>(), 1);
}

TEST_F(MainMenusTest, QuitClosesTheDialogsAndSavesTheSettings) {
    window->mnuSettings->trigger();
    window->mnuIdleSystem->trigger();
    QApplication::processEvents();
    window->mnuQuit->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(open<frmSettings>(), 0);
    EXPECT_EQ(open<frmIdleSystem>(), 0);
    EXPECT_NE(dir.read("MMConf.ini").find("[Server]\r\nPort=4800\r\n"), std::string::npos);
}

TEST_F(MainMenusTest, MinimizingToTrayKeepsAWayBack) {
    window->mnuMinToTray->trigger();
    QApplication::processEvents();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // Without a notification area the window is only minimized, never hidden for good.
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(window->isMinimized());
        EXPECT_EQ(window->trayIcon(), nullptr);
        return;
    }
    EXPECT_FALSE(window->isVisible());
    ASSERT_NE(window->trayIcon(), nullptr);
    EXPECT_TRUE(window->trayIcon()->isVisible());
    EXPECT_EQ(window->trayIcon()->toolTip().toStdString(), "Murmur Server v1.2 by Halden - Trayed");
    window->restoreFromTray();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->trayIcon()->isVisible());
}

}  // namespace
}  // namespace murmur::test
