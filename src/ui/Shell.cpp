#include "ui/Shell.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace murmur {
namespace {

std::function<void(const QString&)>& messageListener() {
    static std::function<void(const QString&)> instance;
    return instance;
}

std::function<void(const QString&)>& addressListener() {
    static std::function<void(const QString&)> instance;
    return instance;
}

}  // namespace

void messageBox(QWidget* parent, const QString& text) {
    if (messageListener()) return messageListener()(text);
    QMessageBox::information(parent, QCoreApplication::applicationName(), text);
}

void openWebAddress(const QString& address) {
    if (addressListener()) return addressListener()(address);
    QDesktopServices::openUrl(QUrl(address));
}

void setMessageListener(std::function<void(const QString&)> l) { messageListener() = std::move(l); }
void setAddressListener(std::function<void(const QString&)> l) { addressListener() = std::move(l); }

}  // namespace murmur
