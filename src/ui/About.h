#pragma once

#include <QDialog>

#include "core/Server.h"

namespace murmur {

class frmAbout final : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(Server& server, QWidget* parent = nullptr);

private:
    Server& server_;
};

}  // namespace murmur
