#include "ui/Controls.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "host/TextFile.h"

namespace murmur {

QLabel* label(const char* name, const QString& caption, QWidget* parent) { return named<QLabel>(name, caption, parent); }

QPushButton* button(const char* name, const char* caption, QWidget* parent) {
    auto* made = named<QPushButton>(name, caption, parent);
    made->setAutoDefault(false);
    return made;
}

int selectedRow(const QListWidget* list) {
    QListWidgetItem* item = list->currentItem();
    return item && item->isSelected() ? list->row(item) : -1;
}

std::vector<std::string> finishedLines(const std::string& path) {
    std::string text;
    if (textfile::readWhole(path, text) != textfile::ReadStatus::ok || text.empty()) return {};
    std::vector<std::string> lines = textfile::splitCrLf(text);
    lines.pop_back();
    return lines;
}

}  // namespace murmur
