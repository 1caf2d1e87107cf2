// What the program asks of the desktop: modal messages with one OK button and the application's
// own title, and web addresses opened in the default browser. Tests listen instead, since a modal
// box would stop them and a browser has no place in a test.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace murmur {

void messageBox(QWidget* parent, const QString& text);
void openWebAddress(const QString& address);

// While a listener is set, messages (or addresses) go to it and nothing is shown.
void setMessageListener(std::function<void(const QString&)> listener);
void setAddressListener(std::function<void(const QString&)> listener);

}  // namespace murmur
