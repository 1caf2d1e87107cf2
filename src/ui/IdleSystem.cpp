#include "ui/IdleSystem.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <optional>

#include "core/DataFiles.h"
#include "core/Settings.h"
#include "host/TextFile.h"
#include "ui/Controls.h"
#include "ui/MainWindow.h"
#include "ui/Shell.h"

namespace murmur {
namespace {

constexpr const char* kCannotWrite = "%1 could not be written. Nothing was lost; press Ok to try again.";

// Minutes between announcements: a whole number that the setting can hold, and at least one, since
// the idle tick never announces with fewer.
std::optional<std::int16_t> parseIdleTime(const QString& text) {
    auto value = parseNumeric(fromQString(text));
    if (!value || std::floor(*value) != *value) return std::nullopt;
    auto minutes = toInt16(*value);
    if (!minutes || *minutes < settingKey(Settings::idIdleTime).low) return std::nullopt;
    return minutes;
}

}  // namespace

frmIdleSystem::frmIdleSystem(Server& server, QWidget* parent) : QDialog(parent), server_(server) {
    setObjectName("frmIdleSystem");
    setWindowTitle("Manage Idle System");
    setAttribute(Qt::WA_DeleteOnClose);

    Label1 = label("Label1", "Current Idle Rotation", this);
    lstIdles = named<QListWidget>("lstIdles", this);
    Label2 = label("Label2", "Add message", this);
    txtIdleMessage = named<QLineEdit>("txtIdleMessage", this);
    btnAdd = button("btnAdd", "Add", this);
    btnModify = button("btnModify", "Modify", this);
    btnRem = button("btnRem", "Remove", this);
    Label3 = label("Label3", "Idle Time (minutes)", this);
    txtIdleTime = named<QLineEdit>("txtIdleTime", this);
    chkIdleSystem = named<QCheckBox>("chkIdleSystem", "Enable Idle System", this);
    Label4 = label("Label4", "Idle Variables:", this);
    Label5 = label("Label5", "%v = Version               %rnd = Random Person", this);
    cmdOk = button("cmdOk", "Ok", this);
    cmdCancel = button("cmdCancel", "Cancel", this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(lstIdles);
    layout->addWidget(Label2);
    layout->addWidget(txtIdleMessage);
    auto* editing = new QHBoxLayout;
    editing->addWidget(btnAdd);
    editing->addWidget(btnModify);
    editing->addWidget(btnRem);
    layout->addLayout(editing);
    auto* timing = new QGridLayout;
    timing->addWidget(Label3, 0, 0);
    timing->addWidget(txtIdleTime, 0, 1);
    timing->addWidget(chkIdleSystem, 1, 0, 1, 2);
    layout->addLayout(timing);
    layout->addWidget(Label4);
    layout->addWidget(Label5);
    auto* closing = new QHBoxLayout;
    closing->addStretch();
    closing->addWidget(cmdOk);
    closing->addWidget(cmdCancel);
    layout->addLayout(closing);

    connect(lstIdles, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { txtIdleMessage->setText(item->text()); });
    connect(btnAdd, &QPushButton::clicked, this, &frmIdleSystem::addMessage);
    connect(btnModify, &QPushButton::clicked, this, &frmIdleSystem::modifyMessage);
    connect(btnRem, &QPushButton::clicked, this, &frmIdleSystem::removeMessage);
    connect(cmdOk, &QPushButton::clicked, this, &frmIdleSystem::save);
    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::close);

    // The text after the last CR LF is not a message: a hand-edited last line without its line
    // end is not shown, and the next save leaves it out.
    for (const auto& line : finishedLines(server_.path(files::idleMessages))) lstIdles->addItem(toQString(line));
    chkIdleSystem->setChecked(server_.settings.idleSystem == "Y");
    txtIdleTime->setText(QString::number(server_.settings.idleTime));
}

// Empty texts are taken too; such an entry is saved as an empty line and never announced.
void frmIdleSystem::addMessage() {
    lstIdles->addItem(txtIdleMessage->text());
    txtIdleMessage->clear();
}

void frmIdleSystem::modifyMessage() {
    int row = selectedRow(lstIdles);
    if (row < 0) return;
    lstIdles->item(row)->setText(txtIdleMessage->text());
}

void frmIdleSystem::removeMessage() {
    int row = selectedRow(lstIdles);
    if (row < 0 || lstIdles->item(row)->text().isEmpty()) return;
    delete lstIdles->takeItem(row);
    lstIdles->clearSelection();
    lstIdles->setCurrentItem(nullptr);
}

// The file keeps one message a line, but the rotation splits at "|", so a message holding it is
// announced in pieces until the next start-up reads the file again. Nothing is stored unless the
// file is written. The minute counter goes on from where it stood.
void frmIdleSystem::save() {
    auto minutes = parseIdleTime(txtIdleTime->text());
    if (!minutes) {
        messageBox(this, badIdleTime);
        return;
    }
    std::vector<std::string> lines;
    for (int i = 0; i < lstIdles->count(); ++i) lines.push_back(fromQString(lstIdles->item(i)->text()));
    const std::string path = server_.path(files::idleMessages);
    bool written = true;
    server_.host.loop().runHandler([&] {
        if (!textfile::createIfMissing(path) || !textfile::rewrite(path, lines)) {
            written = false;
            return;
        }
        std::string joined;
        for (const auto& line : lines) joined += line + "|";
        if (!joined.empty()) joined.pop_back();
        bool running = chkIdleSystem->isChecked();
        Settings& settings = server_.settings;
        settings.idleTime = *minutes;
        settings.idleSystem = running ? "Y" : "N";
        settings.known.set(Settings::idIdleTime);
        settings.known.set(Settings::idIdleSystem);
        server_.tmrIdle->setEnabled(running);
        server_.idleMessages = textfile::split(joined, "|");
    });
    if (!written) {
        messageBox(this, QString(kCannotWrite).arg(toQString(path)));
        return;
    }
    close();
}

}  // namespace murmur
