#include "ui/IdleSystem.h"

namespace murmur {

frmIdleSystem::frmIdleSystem(Server& server, QWidget* parent) : QDialog(parent), server_(server) {
    setObjectName("frmIdleSystem");
    setWindowTitle("Manage Idle System");
}

}  // namespace murmur
