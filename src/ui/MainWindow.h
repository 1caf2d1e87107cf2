// The operator's window: the chat view, the user list with its count label, and the console line.
#pragma once

#include <QMainWindow>

#include "core/ChatView.h"
#include "core/Frontend.h"
#include "core/Server.h"

class QComboBox;
class QLabel;
class QListWidget;
class QTextEdit;

namespace murmur {

class frmAlternate;

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
    void consoleEnter();
    void renderAll();
    void layoutControls();

    Server& server_;
    frmAlternate* alternate_ = nullptr;
    bool shutDownDone_ = false;
};

// Converts a code-page text to what Qt shows.
QString toQString(const std::string& bytes);
std::string fromQString(const QString& text);

}  // namespace murmur
