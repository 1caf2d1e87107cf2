// The small pieces every dialog is made of, each made with the name the code and the tests find
// it by.
#pragma once

#include <QString>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;
class QWidget;

namespace murmur {

template <typename Widget, typename... Arguments>
Widget* named(const char* name, Arguments&&... arguments) {
    auto* widget = new Widget(std::forward<Arguments>(arguments)...);
    widget->setObjectName(name);
    return widget;
}

QLabel* label(const char* name, const QString& caption, QWidget* parent);
// A button that Return in an entry field does not press behind the operator's back.
QPushButton* button(const char* name, const char* caption, QWidget* parent);
// The entry whose row is both current and selected, as the operator last clicked it; -1 for none.
int selectedRow(const QListWidget* list);
// A list file as the dialogs show it: every line that ends with CR LF. A hand-edited last line
// without its line end is not shown, and the next save leaves it out.
std::vector<std::string> finishedLines(const std::string& path);

}  // namespace murmur
