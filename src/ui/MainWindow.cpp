#include "ui/MainWindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTextCursor>
#include <QTextEdit>

#include "core/Lifecycle.h"
#include "host/CodePage.h"
#include "ui/About.h"
#include "ui/AlternatePort.h"
#include "ui/Controls.h"
#include "ui/IdleSystem.h"
#include "ui/RestrictedChannels.h"
#include "ui/SettingsDialog.h"
#include "ui/Shell.h"

namespace murmur {
namespace {

// The tray tooltip holds 63 characters at most.
constexpr int kTrayTipLength = 63;

// Design sizes, in twips.
constexpr int kInnerWidth = 10200;
constexpr int kInnerHeight = 5220;
constexpr int kListColumn = 2175;
constexpr int kConsoleBand = 1065;
constexpr int kListTop = 480;
constexpr int kLabelHeight = 495;

const char* kWhiteOnBlack = "color: white; background-color: black; font-family: \"MS Sans Serif\";";

QColor toQColor(Colour c) { return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF)); }

}  // namespace

QString toQString(const std::string& bytes) { return QString::fromStdString(codepage::toUtf8(bytes)); }
std::string fromQString(const QString& text) { return codepage::fromUtf8(text.toStdString()); }

frmMain::frmMain(Server& server) : server_(server) {
    setObjectName("frmMain");
    setWindowIcon(QIcon(":/icons/murmur-server.svg"));
    auto* area = named<QWidget>("clientArea", this);
    area->setStyleSheet("#clientArea { background-color: black; }");
    setCentralWidget(area);
    buildMenus();

    rtbChat = named<QTextEdit>("rtbChat", area);
    rtbChat->setReadOnly(true);
    rtbChat->setStyleSheet("QTextEdit { background-color: black; border: 1px solid #404040; }");
    rtbChat->setUndoRedoEnabled(false);

    lblUsers = named<QLabel>("lblUsers", area);
    lblUsers->setStyleSheet(kWhiteOnBlack);
    lblUsers->setAlignment(Qt::AlignCenter);

    lstUsers = named<QListWidget>("lstUsers", area);
    lstUsers->setStyleSheet(kWhiteOnBlack);

    txtConsole = named<QComboBox>("txtConsole", area);
    txtConsole->setEditable(true);
    txtConsole->setInsertPolicy(QComboBox::NoInsert);
    // The console fills the band under the chat view; its frame shows where to type.
    txtConsole->setStyleSheet(QString("QComboBox { %1 border: 1px solid #707070; padding-left: 4px; }"
                                      "QComboBox QAbstractItemView { %1 selection-background-color: #23467f; }")
                                  .arg(kWhiteOnBlack));
    connect(txtConsole->lineEdit(), &QLineEdit::returnPressed, this, [this] { consoleEnter(); });

    // The design's size is the area inside the frame, below the menu bar.
    resize(twips(kInnerWidth), twips(kInnerHeight) + menuBar()->sizeHint().height());
    layoutControls();

    server_.frontend = this;
    server_.rtbChat.addSink(this);
}

frmMain::~frmMain() {
    server_.rtbChat.removeSink(this);
    if (server_.frontend == this) server_.frontend = nullptr;
}

void frmMain::buildMenus() {
    auto addMenu = [this](QMenu*& menu, const char* name, const char* caption) {
        menu = menuBar()->addMenu(caption);
        menu->setObjectName(name);
    };
    auto addItem = [this](QMenu* menu, QAction*& item, const char* name, const char* caption, auto action) {
        item = menu->addAction(caption);
        item->setObjectName(name);
        connect(item, &QAction::triggered, this, action);
    };
    addMenu(mnuServer, "mnuServer", "Server");
    addItem(mnuServer, mnuSettings, "mnuSettings", "Settings", [this] { showSingle(settings_); });
    mnuDiv2 = mnuServer->addSeparator();
    mnuDiv2->setObjectName("mnuDiv2");
    addItem(mnuServer, mnuQuit, "mnuQuit", "Quit", [this] { close(); });
    addMenu(mnuTools, "mnuTools", "Tools");
    addItem(mnuTools, mnuRestChan, "mnuRestChan", "Add Restricted Channels ...", [this] { showSingle(restricted_); });
    addItem(mnuTools, mnuUsers, "mnuUsers", "Manage Users", [] {});
    addItem(mnuTools, mnuIdleSystem, "mnuIdleSystem", "Manage Idle System", [this] { showSingle(idleSystem_); });
    addMenu(mnuWindow, "mnuWindow", "Window");
    addItem(mnuWindow, mnuMinToTray, "mnuMinToTray", "Minimize To Tray", [this] { minimizeToTray(); });
    addMenu(mnuHelp, "mnuHelp", "Help");
    addItem(mnuHelp, mnuAbout, "mnuAbout", "About", [this] { showSingle(about_); });
}

template <typename Dialog>
void frmMain::showSingle(QPointer<Dialog>& slot) {
    if (!slot) slot = new Dialog(server_, this);  // each deletes itself when closed
    slot->show();
    slot->raise();
    slot->activateWindow();
}

void frmMain::minimizeToTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // A hidden window without a tray icon could never be brought back.
        showMinimized();
        return;
    }
    if (!tray_) {
        tray_ = new QSystemTrayIcon(windowIcon(), this);
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick) restoreFromTray();
        });
    }
    tray_->setToolTip(toQString(server_.titleText + " - Trayed").left(kTrayTipLength));
    tray_->show();
    setWindowState(Qt::WindowMinimized);
    hide();
}

void frmMain::restoreFromTray() {
    if (isVisible()) return;
    show();
    setWindowState(Qt::WindowNoState);
    raise();
    activateWindow();
    if (tray_) tray_->hide();
}

int frmMain::twips(int value) const { return value * logicalDpiX() / 1440; }

void frmMain::showAfterStartUp() {
    setWindowTitle(toQString(server_.titleText + " - Server Listener"));
    if (!alternate_) show();
}

void frmMain::lineAdded(const ChatLine& line) {
    QTextCursor cursor(rtbChat->document());
    cursor.movePosition(QTextCursor::End);
    QScrollBar* bar = rtbChat->verticalScrollBar();
    bool atBottom = bar->value() == bar->maximum();
    for (const auto& piece : line.pieces) {
        QTextCharFormat format;
        format.setForeground(toQColor(piece.colour));
        cursor.insertText(toQString(piece.text), format);
    }
    // A trim may leave a line that is only its line end.
    if (line.lineEnd > 0) cursor.insertText(QString(QChar::LineFeed));
    if (atBottom) bar->setValue(bar->maximum());
}

void frmMain::trimmed(std::size_t) { renderAll(); }
void frmMain::cleared() { rtbChat->clear(); }

void frmMain::renderAll() {
    rtbChat->clear();
    for (const auto& line : server_.rtbChat.lines()) lineAdded(line);
}

void frmMain::userListInserted(std::size_t index) {
    lstUsers->insertItem(static_cast<int>(index), toQString(server_.lstUsers[index]));
}

void frmMain::userListRemoved(std::size_t index) { delete lstUsers->takeItem(static_cast<int>(index)); }

void frmMain::userListReset() {
    lstUsers->clear();
    for (const auto& name : server_.lstUsers) lstUsers->addItem(toQString(name));
}

void frmMain::countLabelChanged() { lblUsers->setText(toQString(server_.lblUsers)); }

void frmMain::messageBox(const std::string& text) { murmur::messageBox(this, toQString(text)); }

void frmMain::askAlternatePort() {
    hide();
    alternate_ = new frmAlternate(server_, this);
    connect(alternate_, &frmAlternate::portChosen, this, [this] {
        alternate_->deleteLater();
        alternate_ = nullptr;
        show();
    });
    connect(alternate_, &frmAlternate::abandoned, this, [] { QCoreApplication::exit(1); });
    alternate_->show();
}

void frmMain::consoleEnter() {
    QString typed = txtConsole->currentText();
    if (typed.isEmpty()) return;
    if (txtConsole->findText(typed) < 0) txtConsole->insertItem(0, typed);
    txtConsole->setEditText(QString());
    runConsoleEntry(server_, fromQString(typed));
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    layoutControls();
}

// The chat view fills the window but for the user-list column at the right and the console band
// at the bottom; a window too small for either keeps the chat view's size in that dimension.
void frmMain::layoutControls() {
    QWidget* area = centralWidget();
    int w = area->width();
    int h = area->height();
    int chatW = rtbChat->width();
    int chatH = rtbChat->height();
    if (w >= twips(kListColumn)) chatW = w - twips(kListColumn);
    if (h >= twips(kConsoleBand)) chatH = h - twips(kConsoleBand);
    rtbChat->setGeometry(0, 0, chatW, chatH);
    int listLeft = chatW + 1;
    lblUsers->setGeometry(listLeft, 0, twips(kListColumn), twips(kLabelHeight));
    lstUsers->setGeometry(listLeft, twips(kListTop), twips(kListColumn), h);
    int consoleH = h - chatH > 0 ? h - chatH : txtConsole->height();
    txtConsole->setGeometry(0, chatH, listLeft, consoleH);
}

void frmMain::closeEvent(QCloseEvent* event) {
    for (QDialog* dialog : std::initializer_list<QDialog*>{settings_, restricted_, idleSystem_, about_})
        if (dialog) dialog->close();
    if (tray_) tray_->hide();
    if (!shutDownDone_) {
        shutDownDone_ = true;
        server_.host.loop().runHandler([this] { shutDown(server_); });
    }
    event->accept();
    QCoreApplication::quit();
}

}  // namespace murmur
