#include "ui/SettingsDialog.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <optional>

#include "core/Branding.h"
#include "core/Lifecycle.h"
#include "core/Settings.h"
#include "ui/Controls.h"
#include "ui/MainWindow.h"
#include "ui/Shell.h"

namespace murmur {
namespace {

constexpr const char* kPortNotNumeric = "Port number must be numeric.";
constexpr const char* kLoadTimeTooGreat = "Load time is too great. Use a value of 60 or less.";

// Values the settings cannot hold, or that would break the next start-up, are refused before
// anything is stored.
constexpr const char* kSpamMessagesRange = "The number of messages must be a whole number from 0 to 32767.";
constexpr const char* kSpamTimeRange = "The spam control time must be a whole number of seconds from 0 to 32.";
constexpr const char* kLoadConnectsRange = "The number of connects must be a whole number from 0 to 32767.";
constexpr const char* kLoadTimeRange = "The load protection time must be a whole number of seconds from 0 to 60.";

constexpr const char* kUdpTip =
    "From the next start the server listens on 127.0.0.1 only, so only clients on this computer can connect.";

constexpr int kMillisecondsPerSecond = 1000;

constexpr const char* kLook =
    "QWidget { color: white; background-color: black; font-family: \"MS Sans Serif\"; }"
    "QLineEdit { border: 1px solid gray; padding: 1px; }"
    "QPushButton { border: 1px solid gray; padding: 3px 14px; }"
    "QPushButton:pressed { background-color: #404040; }"
    // Drawn by hand: the platform's marks vanish on black.
    "QCheckBox::indicator, QRadioButton::indicator { width: 9px; height: 9px; border: 1px solid silver; }"
    "QRadioButton::indicator { border-radius: 5px; }"
    "QCheckBox::indicator:checked, QRadioButton::indicator:checked { background-color: white; }";
constexpr const char* kLinkLook = "color: blue; text-decoration: underline;";

// Two fields the form takes together: when either is not numeric text, neither is taken.
struct FieldPair {
    bool taken = false;
    std::optional<std::int16_t> first;  // empty when beyond 16 bits
    std::optional<std::int16_t> second;
};

FieldPair readPair(const QLineEdit* first, const QLineEdit* second) {
    auto a = parseNumeric(fromQString(first->text()));
    auto b = parseNumeric(fromQString(second->text()));
    if (!a || !b) return {};
    return {true, toInt16(*a), toInt16(*b)};
}

// Within what the setting's key in MMConf.ini may hold.
bool within(const std::optional<std::int16_t>& value, Settings::Id id) {
    const SettingKey& key = settingKey(id);
    return value && *value >= key.low && *value <= key.high;
}

QString decimal(std::int16_t value) { return QString::number(value); }
std::string yesNo(const QCheckBox* box) { return box->isChecked() ? "Y" : "N"; }

QLineEdit* numberField(const char* name, int characters, QWidget* parent) {
    auto* made = named<QLineEdit>(name, parent);
    made->setFixedWidth(made->fontMetrics().horizontalAdvance(QString(characters, '0')) + 12);
    return made;
}

}  // namespace

frmSettings::frmSettings(Server& server, QWidget* parent) : QDialog(parent), server_(server) {
    setObjectName("frmSettings");
    setWindowTitle("Server Settings");
    setAttribute(Qt::WA_DeleteOnClose);
    setStyleSheet(kLook);
    buildControls();
    showSettings();

    connect(opTCP, &QRadioButton::clicked, this, [this] { setProtocol(0); });
    connect(opUDP, &QRadioButton::clicked, this, [this] { setProtocol(1); });
    connect(Command1, &QPushButton::clicked, this, &frmSettings::save);
    connect(Command2, &QPushButton::clicked, this, &QWidget::close);
    Label9->installEventFilter(this);
}

void frmSettings::buildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* portRow = new QHBoxLayout;
    Label1 = label("Label1", "Port", this);
    txtPort = numberField("txtPort", 6, this);
    portRow->addWidget(Label1);
    portRow->addWidget(txtPort);
    portRow->addStretch();
    layout->addLayout(portRow);

    auto* groups = new QHBoxLayout;
    Frame1 = named<QGroupBox>("Frame1", "Server Options", this);
    auto* options = new QVBoxLayout(Frame1);
    chkAuth = named<QCheckBox>("chkAuth", "Require Authentication", Frame1);
    chkLogs = named<QCheckBox>("chkLogs", "Write Chat Logs to File", Frame1);
    options->addWidget(chkAuth);
    options->addWidget(chkLogs);
    groups->addWidget(Frame1);

    Frame2 = named<QGroupBox>("Frame2", "Protocol", this);
    auto* protocol = new QVBoxLayout(Frame2);
    opTCP = named<QRadioButton>("opTCP", "TCP", Frame2);
    opUDP = named<QRadioButton>("opUDP", "UDP", Frame2);
    opUDP->setToolTip(kUdpTip);
    protocol->addWidget(opTCP);
    protocol->addWidget(opUDP);
    groups->addWidget(Frame2);
    layout->addLayout(groups);

    Frame4 = named<QGroupBox>("Frame4", "Spam Control", this);
    auto* rows = new QGridLayout(Frame4);
    Label3 = label("Label3", "Drop client with ", Frame4);
    txtSpamMessages = numberField("txtSpamMessages", 5, Frame4);
    Label2 = label("Label2", "messages in", Frame4);
    txtSpamTime = numberField("txtSpamTime", 5, Frame4);
    Label4 = label("Label4", " seconds", Frame4);
    Label5 = label("Label5", "Ban client with", Frame4);
    txtLoadConnects = numberField("txtLoadConnects", 5, Frame4);
    Label6 = label("Label6", "connects in", Frame4);
    txtLoadTime = numberField("txtLoadTime", 5, Frame4);
    Label7 = label("Label7", "seconds", Frame4);
    chkSpamControl = named<QCheckBox>("chkSpamControl", "Enforce Spam Control", Frame4);
    chkLoad = named<QCheckBox>("chkLoad", "Enforce Load Protection", Frame4);
    QWidget* spamRow[] = {Label3, txtSpamMessages, Label2, txtSpamTime, Label4};
    QWidget* loadRow[] = {Label5, txtLoadConnects, Label6, txtLoadTime, Label7};
    for (int column = 0; column < 5; ++column) {
        rows->addWidget(spamRow[column], 0, column);
        rows->addWidget(loadRow[column], 1, column);
    }
    rows->addWidget(chkSpamControl, 2, 0, 1, 5);
    rows->addWidget(chkLoad, 3, 0, 1, 5);
    layout->addWidget(Frame4);

    auto* bottom = new QHBoxLayout;
    auto* community = new QVBoxLayout;
    Label8 = label("Label8", "Visit the Kiln Community", this);
    Label9 = label("Label9", branding::communityAddress, this);
    Label9->setStyleSheet(kLinkLook);
    Label9->setCursor(Qt::PointingHandCursor);
    community->addWidget(Label8);
    community->addWidget(Label9);
    bottom->addLayout(community);
    bottom->addStretch();
    Command1 = named<QPushButton>("Command1", "Save", this);
    Command2 = named<QPushButton>("Command2", "Close", this);
    bottom->addWidget(Command1);
    bottom->addWidget(Command2);
    layout->addLayout(bottom);
}

// Each opening starts from the settings as they are; a dialog brought forward keeps its edits.
void frmSettings::showSettings() {
    const Settings& s = server_.settings;
    chkAuth->setChecked(s.authentication == "Y");
    chkLogs->setChecked(s.writeLogToFile == "Y");
    chkSpamControl->setChecked(s.spamControl == "Y");
    chkLoad->setChecked(s.loadControl == "Y");
    txtPort->setText(decimal(s.port));
    txtSpamMessages->setText(decimal(s.messageCount));
    txtSpamTime->setText(decimal(s.secondsToCheck));
    txtLoadConnects->setText(decimal(s.amountOfConnections));
    txtLoadTime->setText(decimal(s.amountOfTime));
    (s.protocol == 0 ? opTCP : opUDP)->setChecked(true);
}

// The protocol is taken at the click, saved or not; the listener only sees it at the next start.
void frmSettings::setProtocol(std::int16_t protocol) {
    server_.host.loop().runHandler([&] {
        server_.settings.protocol = protocol;
        server_.settings.known.set(Settings::idProtocol);
    });
}

void frmSettings::save() {
    auto portNumber = parseNumeric(fromQString(txtPort->text()));
    if (!portNumber) return messageBox(this, kPortNotNumeric);
    auto port = toInt16(*portNumber);
    if (!within(port, Settings::idPort)) return messageBox(this, portRangeMessage);

    FieldPair spam = readPair(txtSpamMessages, txtSpamTime);
    FieldPair load = readPair(txtLoadConnects, txtLoadTime);
    if (spam.taken && !within(spam.first, Settings::idMessageCount)) return messageBox(this, kSpamMessagesRange);
    if (spam.taken && !within(spam.second, Settings::idSecondsToCheck)) return messageBox(this, kSpamTimeRange);
    if (load.taken && !within(load.first, Settings::idAmountOfConnections)) return messageBox(this, kLoadConnectsRange);
    // Above 60 but within 16 bits is the older refusal below, after the numbers are stored.
    if (load.taken && !(load.second && *load.second >= 0)) return messageBox(this, kLoadTimeRange);

    bool loadTimeTooGreat = false;
    server_.host.loop().runHandler([&] {
        Settings& s = server_.settings;
        if (spam.taken) {
            s.messageCount = *spam.first;
            s.secondsToCheck = *spam.second;
            s.known.set(Settings::idMessageCount).set(Settings::idSecondsToCheck);
        }
        if (load.taken) {
            s.amountOfConnections = *load.first;
            s.amountOfTime = *load.second;
            s.known.set(Settings::idAmountOfConnections).set(Settings::idAmountOfTime);
        }
        // The numbers above stay stored even so, and reach MMConf.ini at shutdown.
        if (s.amountOfTime > settingKey(Settings::idAmountOfTime).high) {
            loadTimeTooGreat = true;
            return;
        }
        server_.tmrLoad->setInterval(s.amountOfTime * kMillisecondsPerSecond);

        // A running spam window is left to finish; the next one takes the new period.
        s.spamControl = yesNo(chkSpamControl);
        if (chkSpamControl->isChecked()) server_.tmrHandleJunk->setInterval(s.secondsToCheck * kMillisecondsPerSecond);
        s.authentication = yesNo(chkAuth);
        s.writeLogToFile = yesNo(chkLogs);
        // Load protection starts checking at once, whether or not a logon has been counted.
        s.loadControl = yesNo(chkLoad);
        server_.tmrLoad->setEnabled(chkLoad->isChecked());
        // The listener keeps its port; the new one is taken at the next start.
        s.port = *port;
        s.markAllKnown();
    });
    if (loadTimeTooGreat) return messageBox(this, kLoadTimeTooGreat);
    close();
}

bool frmSettings::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label9 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        openWebAddress(QString::fromLatin1(branding::communityAddress));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace murmur
