// The server's name and version, the people it owes thanks to, and where to read more.
#pragma once

#include <QDialog>
#include <QStringList>

#include "core/Server.h"

class QLabel;
class QPlainTextEdit;

namespace murmur {

class frmAbout final : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(Server& server, QWidget* parent = nullptr);

    QLabel* Label6 = nullptr;
    QLabel* Label1 = nullptr;
    QPlainTextEdit* txtThanks = nullptr;
    // Clickable: "Murmur Home", "What is Murmur?" and "Close Window".
    QLabel* Label3 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label4 = nullptr;

    // The acknowledgements, in the order they are shown.
    static const QStringList thanks;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Server& server_;
};

}  // namespace murmur
