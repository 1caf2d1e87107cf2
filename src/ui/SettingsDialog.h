// The operator's settings: port, protocol, authentication, chat logs, spam control and load
// protection. Changes live in memory and reach MMConf.ini at shutdown; the timer periods apply at
// once.
#pragma once

#include <QDialog>

#include "core/Server.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace murmur {

class frmSettings final : public QDialog {
    Q_OBJECT
public:
    explicit frmSettings(Server& server, QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QLineEdit* txtPort = nullptr;

    QGroupBox* Frame1 = nullptr;
    QCheckBox* chkAuth = nullptr;
    QCheckBox* chkLogs = nullptr;

    QGroupBox* Frame2 = nullptr;
    QRadioButton* opTCP = nullptr;
    QRadioButton* opUDP = nullptr;

    QGroupBox* Frame4 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txtSpamMessages = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txtSpamTime = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* txtLoadConnects = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* txtLoadTime = nullptr;
    QLabel* Label7 = nullptr;
    QCheckBox* chkSpamControl = nullptr;
    QCheckBox* chkLoad = nullptr;

    QPushButton* Command1 = nullptr;  // "Save"
    QPushButton* Command2 = nullptr;  // "Close"

    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;  // the community link

    // The "Save" button.
    void save();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void showSettings();
    void setProtocol(std::int16_t protocol);

    Server& server_;
};

}  // namespace murmur
