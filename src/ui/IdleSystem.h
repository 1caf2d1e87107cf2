// The operator's editor for the idle announcements: the messages, the minutes between them, and
// whether they run at all.
#pragma once

#include <QDialog>

#include "core/Server.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace murmur {

class frmIdleSystem final : public QDialog {
    Q_OBJECT
public:
    explicit frmIdleSystem(Server& server, QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QListWidget* lstIdles = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txtIdleMessage = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnModify = nullptr;
    QPushButton* btnRem = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txtIdleTime = nullptr;
    QCheckBox* chkIdleSystem = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;

    // Shown when txtIdleTime holds no usable number of minutes.
    static constexpr const char* badIdleTime = "Idle Time must be a whole number of minutes from 1 to 32767.";

private:
    void addMessage();
    void modifyMessage();
    void removeMessage();
    void save();

    Server& server_;
};

}  // namespace murmur
