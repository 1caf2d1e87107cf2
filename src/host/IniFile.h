// Private-profile INI files: sections and keys found without regard to letter case, values read
// trimmed and without surrounding quotes, at most 254 characters; writing a key changes that one
// line (or adds it, or adds its section) and keeps every other line of the file as it was.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace murmur {

class IniDocument {
public:
    static constexpr std::size_t maxValueLength = 254;

    IniDocument() = default;
    explicit IniDocument(std::string_view text);

    // Empty when the section or key is missing.
    std::string get(std::string_view section, std::string_view key) const;
    bool has(std::string_view section, std::string_view key) const;
    void set(std::string_view section, std::string_view key, std::string_view value);
    // The file text, every line ended by CR LF.
    std::string text() const;

private:
    struct Line {
        std::string raw;
        std::string section;  // the section this line opens, when it is a section header
        std::string key;      // the key this line sets, when it is a key line
        bool isSection = false;
        bool isKey = false;
    };
    // Index of the first key line of the section, or of the header line when asked for it.
    int findSection(std::string_view section) const;
    int findKey(int sectionLine, std::string_view key) const;

    std::vector<Line> lines_;
};

// One read or one write of one key in the file at the path.
std::string readIni(const std::string& path, std::string_view section, std::string_view key);
bool writeIni(const std::string& path, std::string_view section, std::string_view key, std::string_view value);

}  // namespace murmur
