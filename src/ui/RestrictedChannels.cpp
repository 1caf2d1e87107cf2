#include "ui/RestrictedChannels.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "core/DataFiles.h"
#include "host/CodePage.h"
#include "host/TextFile.h"
#include "ui/Controls.h"
#include "ui/MainWindow.h"
#include "ui/Shell.h"

namespace murmur {
namespace {

constexpr const char* kMainRefused = "You cannot restrict the main channel.";
constexpr const char* kCannotWrite = "%1 could not be written. Nothing was lost; press Ok to try again.";

void fillFromFile(QListWidget* list, const std::string& path) {
    for (const auto& line : finishedLines(path)) list->addItem(toQString(line));
}

// The entries as the channel rules will see them: an entry holding "|" counts as several, and a
// list with nothing in it falls back to the given defaults.
std::vector<std::string> entriesOf(const QListWidget* list, std::vector<std::string> defaults) {
    std::string joined;
    for (int i = 0; i < list->count(); ++i) joined += fromQString(list->item(i)->text()) + "|";
    if (joined.size() < 2) return defaults;
    joined.pop_back();
    return textfile::split(joined, "|");
}

bool store(const std::string& path, const std::vector<std::string>& lines) {
    return textfile::createIfMissing(path) && textfile::rewrite(path, lines);
}

}  // namespace

frmRestricted::frmRestricted(Server& server, QWidget* parent) : QDialog(parent), server_(server) {
    setObjectName("frmRestricted");
    setWindowTitle("Restricted Channels Manager");
    setAttribute(Qt::WA_DeleteOnClose);

    Label2 = label("Label2", "Restricted Channels", this);
    lstRestricted = named<QListWidget>("lstRestricted", this);
    Label1 = label("Label1", "Channel Name", this);
    txtRestricted = named<QLineEdit>("txtRestricted", this);
    btnAdd = button("btnAdd", "Add", this);
    btnRemove = button("btnRemove", "Remove", this);

    Label3 = label("Label3", "Allowed Channels (If Enabled)", this);
    lstAllowed = named<QListWidget>("lstAllowed", this);
    Label4 = label("Label4", "Channel Name", this);
    Text1 = named<QLineEdit>("Text1", this);
    btnRCAdd = button("btnRCAdd", "Add", this);
    btnRCDel = button("btnRCDel", "Remove", this);
    chkACMode = named<QCheckBox>("chkACMode", "Blacklist Mode", this);

    btnOk = button("btnOk", "Ok", this);
    btnCancel = button("btnCancel", "Cancel", this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label2, 0, 0);
    grid->addWidget(lstRestricted, 1, 0);
    grid->addWidget(Label1, 2, 0);
    grid->addWidget(txtRestricted, 3, 0);
    auto* restrictedButtons = new QHBoxLayout;
    restrictedButtons->addWidget(btnAdd);
    restrictedButtons->addWidget(btnRemove);
    grid->addLayout(restrictedButtons, 4, 0);

    grid->addWidget(Label3, 0, 1);
    grid->addWidget(lstAllowed, 1, 1);
    grid->addWidget(Label4, 2, 1);
    grid->addWidget(Text1, 3, 1);
    auto* allowedButtons = new QHBoxLayout;
    allowedButtons->addWidget(btnRCAdd);
    allowedButtons->addWidget(btnRCDel);
    grid->addLayout(allowedButtons, 4, 1);
    grid->addWidget(chkACMode, 5, 1);

    auto* closing = new QHBoxLayout;
    closing->addStretch();
    closing->addWidget(btnOk);
    closing->addWidget(btnCancel);
    grid->addLayout(closing, 6, 0, 1, 2);

    // The allowed list's own buttons and the mode box do nothing: that list is kept in its file.
    connect(btnAdd, &QPushButton::clicked, this, &frmRestricted::addRestricted);
    connect(btnRemove, &QPushButton::clicked, this, &frmRestricted::removeRestricted);
    connect(btnOk, &QPushButton::clicked, this, &frmRestricted::save);
    connect(btnCancel, &QPushButton::clicked, this, &QWidget::close);

    fillFromFile(lstRestricted, server_.path(files::restrictedChannels));
    fillFromFile(lstAllowed, server_.path(files::allowedChannels));
}

// Only what comes through here is checked; a hand-edited file may still restrict "main".
void frmRestricted::addRestricted() {
    QString text = txtRestricted->text();
    if (text.isEmpty()) return;
    if (codepage::toLower(fromQString(text)) == "main") {
        messageBox(this, kMainRefused);
        return;
    }
    lstRestricted->addItem(text);
    txtRestricted->clear();
}

void frmRestricted::removeRestricted() {
    int row = selectedRow(lstRestricted);
    if (row < 0 || lstRestricted->item(row)->text().isEmpty()) return;
    delete lstRestricted->takeItem(row);
    lstRestricted->clearSelection();
    lstRestricted->setCurrentItem(nullptr);
}

// Each list takes effect once its file holds it, so memory and file never disagree; a file that
// cannot be written leaves the dialog open to try again.
void frmRestricted::save() {
    std::string failed;
    server_.host.loop().runHandler([&] {
        const std::string restrictedPath = server_.path(files::restrictedChannels);
        std::vector<std::string> restricted = entriesOf(lstRestricted, {"Admin Lounge", "Backstage"});
        if (!store(restrictedPath, restricted)) {
            failed = restrictedPath;
            return;
        }
        server_.restrictedChannels = std::move(restricted);
        const std::string allowedPath = server_.path(files::allowedChannels);
        std::vector<std::string> allowed = entriesOf(lstAllowed, {"Main", "lobby"});
        if (!store(allowedPath, allowed)) {
            failed = allowedPath;
            return;
        }
        server_.allowedChannels = std::move(allowed);
    });
    if (!failed.empty()) {
        messageBox(this, QString(kCannotWrite).arg(toQString(failed)));
        return;
    }
    close();
}

}  // namespace murmur
