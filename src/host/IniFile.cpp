#include "host/IniFile.h"

#include "host/CodePage.h"
#include "host/TextFile.h"

namespace murmur {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

}  // namespace

IniDocument::IniDocument(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string_view raw = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        Line line{std::string(raw), {}, {}, false, false};
        std::string_view body = trim(raw);
        if (!body.empty() && body.front() == '[') {
            std::size_t close = body.find(']');
            line.isSection = true;
            line.section = std::string(trim(body.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
        } else if (!body.empty() && body.front() != ';') {
            std::size_t eq = body.find('=');
            if (eq != std::string_view::npos) {
                line.isKey = true;
                line.key = std::string(trim(body.substr(0, eq)));
            }
        }
        lines_.push_back(std::move(line));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
}

int IniDocument::findSection(std::string_view section) const {
    std::string_view wanted = trim(section);
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].isSection && codepage::equalsNoCase(lines_[i].section, wanted)) return static_cast<int>(i);
    return -1;
}

int IniDocument::findKey(int sectionLine, std::string_view key) const {
    std::string_view wanted = trim(key);
    for (std::size_t i = static_cast<std::size_t>(sectionLine) + 1; i < lines_.size() && !lines_[i].isSection; ++i)
        if (lines_[i].isKey && codepage::equalsNoCase(lines_[i].key, wanted)) return static_cast<int>(i);
    return -1;
}

bool IniDocument::has(std::string_view section, std::string_view key) const {
    int s = findSection(section);
    return s >= 0 && findKey(s, key) >= 0;
}

std::string IniDocument::get(std::string_view section, std::string_view key) const {
    int s = findSection(section);
    if (s < 0) return {};
    int k = findKey(s, key);
    if (k < 0) return {};
    std::string_view raw = lines_[static_cast<std::size_t>(k)].raw;
    std::string_view value = trim(raw.substr(raw.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    value = value.substr(0, value.find('\0'));
    return std::string(value.substr(0, maxValueLength));
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    std::string keyLine = std::string(trim(key)) + "=" + std::string(value);
    Line newKey{keyLine, {}, std::string(trim(key)), false, true};
    int s = findSection(section);
    if (s < 0) {
        lines_.push_back(Line{"[" + std::string(trim(section)) + "]", std::string(trim(section)), {}, true, false});
        lines_.push_back(std::move(newKey));
        return;
    }
    int k = findKey(s, key);
    if (k >= 0) {
        lines_[static_cast<std::size_t>(k)] = std::move(newKey);
        return;
    }
    // A new key goes after the last non-blank line of its section, so blank lines that separate
    // sections stay where the operator put them.
    std::size_t at = static_cast<std::size_t>(s) + 1;
    for (std::size_t i = at; i < lines_.size() && !lines_[i].isSection; ++i)
        if (!trim(lines_[i].raw).empty()) at = i + 1;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(newKey));
}

std::string IniDocument::text() const {
    std::string out;
    for (const auto& line : lines_) {
        out += line.raw;
        out += "\r\n";
    }
    return out;
}

std::string readIni(const std::string& path, std::string_view section, std::string_view key) {
    std::string text;
    if (textfile::readWhole(path, text) != textfile::ReadStatus::ok) return {};
    return IniDocument(text).get(section, key);
}

bool writeIni(const std::string& path, std::string_view section, std::string_view key, std::string_view value) {
    std::string text;
    if (textfile::readWhole(path, text) == textfile::ReadStatus::failed) return false;
    IniDocument document(text);
    document.set(section, key, value);
    return textfile::writeWhole(path, document.text());
}

}  // namespace murmur
