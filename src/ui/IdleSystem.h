#pragma once

#include <QDialog>

#include "core/Server.h"

namespace murmur {

class frmIdleSystem final : public QDialog {
    Q_OBJECT
public:
    explicit frmIdleSystem(Server& server, QWidget* parent = nullptr);

private:
    Server& server_;
};

}  // namespace murmur
