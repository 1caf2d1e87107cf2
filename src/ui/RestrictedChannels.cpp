#include "ui/RestrictedChannels.h"

namespace murmur {

frmRestricted::frmRestricted(Server& server, QWidget* parent) : QDialog(parent), server_(server) {
    setObjectName("frmRestricted");
    setWindowTitle("Restricted Channels Manager");
}

}  // namespace murmur
