// Asks for another port when the configured one is taken at start-up.
#pragma once

#include <QDialog>

#include "core/Server.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace murmur {

class frmAlternate final : public QDialog {
    Q_OBJECT
public:
    frmAlternate(Server& server, QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QLineEdit* txtAltPort = nullptr;
    QPushButton* Command1 = nullptr;

    // The "Select alternative port" button.
    void selectPort();
    // The close box and Escape both end here.
    void reject() override;

signals:
    void portChosen();
    // Closed without a port: the server has nothing to listen on.
    void abandoned();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void askForPort();

    Server& server_;
    bool chosen_ = false;
};

}  // namespace murmur
