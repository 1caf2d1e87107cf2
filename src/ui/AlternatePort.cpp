#include "ui/AlternatePort.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "core/Lifecycle.h"
#include "core/Settings.h"
#include "ui/Controls.h"
#include "ui/MainWindow.h"
#include "ui/Shell.h"

namespace murmur {

frmAlternate::frmAlternate(Server& server, QWidget* parent) : QDialog(parent), server_(server) {
    setObjectName("frmAlternate");
    setWindowTitle("Select Alternate Port");
    auto* layout = new QVBoxLayout(this);
    Label1 = named<QLabel>("Label1", "Select alternate listening port", this);
    txtAltPort = named<QLineEdit>("txtAltPort", this);
    Command1 = named<QPushButton>("Command1", "Select alternative port", this);
    layout->addWidget(Label1);
    layout->addWidget(txtAltPort);
    layout->addWidget(Command1);
    connect(Command1, &QPushButton::clicked, this, &frmAlternate::selectPort);
}

void frmAlternate::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    QTimer::singleShot(0, this, &frmAlternate::askForPort);
}

void frmAlternate::askForPort() { messageBox(this, toQString(alternatePortQuestion(server_.settings.port))); }

void frmAlternate::selectPort() {
    std::int16_t port = 0;
    switch (readPortEntry(fromQString(txtAltPort->text()), port)) {
        case PortEntry::notNumeric: return messageBox(this, enterNumericValue);
        case PortEntry::outOfRange: return messageBox(this, portRangeMessage);
        case PortEntry::valid: break;
    }
    bool listening = false;
    server_.host.loop().runHandler([&] { listening = listenOnAlternatePort(server_, port); });
    if (!listening) return messageBox(this, toQString(alternatePortQuestion(port)));
    chosen_ = true;
    close();
    emit portChosen();
}

void frmAlternate::reject() {
    QDialog::reject();
    if (!chosen_) emit abandoned();
}

}  // namespace murmur
