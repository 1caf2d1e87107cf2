// The operator's editor for the restricted channel list, which joins of normal users obey, and
// for the allowed channel list, which is only shown here and edited in its file.
#pragma once

#include <QDialog>

#include "core/Server.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace murmur {

class frmRestricted final : public QDialog {
    Q_OBJECT
public:
    explicit frmRestricted(Server& server, QWidget* parent = nullptr);

    QLabel* Label2 = nullptr;
    QListWidget* lstRestricted = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* txtRestricted = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnRemove = nullptr;

    QLabel* Label3 = nullptr;
    QListWidget* lstAllowed = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* btnRCAdd = nullptr;
    QPushButton* btnRCDel = nullptr;
    QCheckBox* chkACMode = nullptr;

    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void addRestricted();
    void removeRestricted();
    void save();

    Server& server_;
};

}  // namespace murmur
