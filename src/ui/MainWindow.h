// The operator's window: the chat view, the user list with its count label, and the console line.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include "core/ChatView.h"
#include "core/Frontend.h"
#include "core/Server.h"

class QAction;
class QComboBox;
class QLabel;
class QListWidget;
class QMenu;
class QSystemTrayIcon;
class QTextEdit;

namespace murmur {

class frmAbout;
class frmAlternate;
class frmIdleSystem;
class frmRestricted;
class frmSettings;

class frmMain final : public QMainWindow, public Frontend, public ChatSink {
    Q_OBJECT
public:
    explicit frmMain(Server& server);
    ~frmMain() override;

    // Shows the window after start-up, unless start-up is waiting for an alternate port.
    void showAfterStartUp();

    QTextEdit* rtbChat = nullptr;
    QListWidget* lstUsers = nullptr;
    QLabel* lblUsers = nullptr;
    QComboBox* txtConsole = nullptr;

    QMenu* mnuServer = nullptr;
    QAction* mnuSettings = nullptr;
    QAction* mnuDiv2 = nullptr;
    QAction* mnuQuit = nullptr;
    QMenu* mnuTools = nullptr;
    QAction* mnuRestChan = nullptr;
    QAction* mnuUsers = nullptr;
    QAction* mnuIdleSystem = nullptr;
    QMenu* mnuWindow = nullptr;
    QAction* mnuMinToTray = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuAbout = nullptr;

    // Hides the window into the notification area; without one it is only minimized.
    void minimizeToTray();
    // The tray icon's double-click: the window comes back.
    void restoreFromTray();
    QSystemTrayIcon* trayIcon() const { return tray_; }

    void lineAdded(const ChatLine& line) override;
    void trimmed(std::size_t characters) override;
    void cleared() override;
    void userListInserted(std::size_t index) override;
    void userListRemoved(std::size_t index) override;
    void userListReset() override;
    void countLabelChanged() override;
    void messageBox(const std::string& text) override;
    void askAlternatePort() override;

    // Twips (1/1440 inch) in this screen's pixels.
    int twips(int value) const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void consoleEnter();
    void renderAll();
    void layoutControls();
    // One dialog of each kind: a second click brings the open one forward.
    template <typename Dialog>
    void showSingle(QPointer<Dialog>& slot);

    Server& server_;
    frmAlternate* alternate_ = nullptr;
    QPointer<frmSettings> settings_;
    QPointer<frmRestricted> restricted_;
    QPointer<frmIdleSystem> idleSystem_;
    QPointer<frmAbout> about_;
    QSystemTrayIcon* tray_ = nullptr;
    bool shutDownDone_ = false;
};

// Converts a code-page text to what Qt shows.
QString toQString(const std::string& bytes);
std::string fromQString(const QString& text);

}  // namespace murmur
