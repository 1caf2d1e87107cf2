#pragma once

#include <QDialog>

#include "core/Server.h"

namespace murmur {

class frmRestricted final : public QDialog {
    Q_OBJECT
public:
    explicit frmRestricted(Server& server, QWidget* parent = nullptr);

private:
    Server& server_;
};

}  // namespace murmur
