// IniDocument over arbitrary file text: reading any key is safe, writing the text out and reading
// it again gives the same document, and a key that was set reads back as set while every other
// key of the file keeps its value.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/CodePage.h"
#include "host/IniFile.h"

namespace {

using murmur::IniDocument;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// What reading gives back for a value that was written.
std::string asRead(std::string_view value) {
    value = trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    value = value.substr(0, value.find('\0'));
    return std::string(value.substr(0, IniDocument::maxValueLength));
}

// A section name that survives as a header line "[name]".
bool saneSection(std::string_view section) {
    return section.find_first_of("]\n") == std::string_view::npos;
}

// A key that survives as the left side of "key=value".
bool saneKey(std::string_view key) {
    std::string_view body = trim(key);
    if (key.find_first_of("=\n") != std::string_view::npos) return false;
    return body.empty() || (body.front() != '[' && body.front() != ';');
}

bool saneValue(std::string_view value) { return value.find('\n') == std::string_view::npos; }

// Section and key names as they stand in the text, found with the file's own rules; enough to
// probe every key the document holds.
std::vector<std::pair<std::string, std::string>> probes(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> out;
    std::string section;
    std::size_t start = 0;
    while (start <= text.size() && out.size() < 64) {
        std::size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        std::string_view body = trim(line);
        if (!body.empty() && body.front() == '[') {
            std::size_t close = body.find(']');
            section = std::string(trim(body.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
        } else if (std::size_t eq = body.find('='); eq != std::string_view::npos && !body.empty() && body.front() != ';') {
            out.emplace_back(section, std::string(trim(body.substr(0, eq))));
        }
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 8192) return -1;
    FuzzedDataProvider in(data, size);
    std::string section = in.ConsumeRandomLengthString(64);
    std::string key = in.ConsumeRandomLengthString(64);
    std::string value = in.ConsumeRandomLengthString(300);
    std::string text = in.ConsumeRemainingBytesAsString();

    IniDocument document(text);
    std::string got = document.get(section, key);
    if (!document.has(section, key) && !got.empty()) std::abort();
    if (got.size() > IniDocument::maxValueLength) std::abort();

    // Written out and read again, the document is the same, line for line.
    std::string written = document.text();
    IniDocument reread(written);
    if (reread.text() != written) std::abort();
    if (reread.get(section, key) != got) std::abort();

    std::vector<std::pair<std::string, std::string>> keys = probes(text);
    std::vector<std::string> before;
    for (const auto& [s, k] : keys) before.push_back(document.get(s, k));

    IniDocument changed(text);
    changed.set(section, key, value);
    if (!saneSection(section) || !saneKey(key) || !saneValue(value)) {
        IniDocument(changed.text()).get(section, key);
        return 0;
    }
    if (changed.get(section, key) != asRead(value)) std::abort();
    IniDocument changedReread(changed.text());
    if (changedReread.get(section, key) != asRead(value)) std::abort();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const auto& [s, k] = keys[i];
        bool same = murmur::codepage::equalsNoCase(trim(s), trim(section)) &&
                    murmur::codepage::equalsNoCase(trim(k), trim(key));
        if (!same && changedReread.get(s, k) != before[i]) std::abort();
    }
    return 0;
}
