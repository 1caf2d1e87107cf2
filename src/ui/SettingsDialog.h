#pragma once

#include <QDialog>

#include "core/Server.h"

namespace murmur {

class frmSettings final : public QDialog {
    Q_OBJECT
public:
    explicit frmSettings(Server& server, QWidget* parent = nullptr);

private:
    Server& server_;
};

}  // namespace murmur
