#include "ui/About.h"

namespace murmur {

frmAbout::frmAbout(Server& server, QWidget* parent) : QDialog(parent), server_(server) {
    setObjectName("frmAbout");
    setWindowTitle("About - Murmur %v by Halden");
}

}  // namespace murmur
