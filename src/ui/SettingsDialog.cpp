#include "ui/SettingsDialog.h"

namespace murmur {

frmSettings::frmSettings(Server& server, QWidget* parent) : QDialog(parent), server_(server) {
    setObjectName("frmSettings");
    setWindowTitle("Server Settings");
}

}  // namespace murmur
