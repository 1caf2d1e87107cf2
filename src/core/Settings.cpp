#include "core/Settings.h"

#include <cmath>
#include <cstdlib>

namespace murmur {
namespace {

std::string_view trimSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::optional<double> parseRadix(std::string_view digits, int radix) {
    if (digits.empty() || digits.size() > 16) return std::nullopt;
    double value = 0;
    for (char c : digits) {
        int d = isDigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : 99;
        if (d >= radix) return std::nullopt;
        value = value * radix + d;
    }
    return value;
}

}  // namespace

std::optional<double> parseNumeric(std::string_view text) {
    std::string_view s = trimSpaces(text);
    if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) return parseRadix(s.substr(2), 16);
    if (s.size() > 2 && s[0] == '&' && (s[1] == 'O' || s[1] == 'o')) return parseRadix(s.substr(2), 8);

    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t e = i + 1;
        if (e < s.size() && (s[e] == '+' || s[e] == '-')) ++e;
        std::size_t expDigits = 0;
        while (e < s.size() && isDigit(s[e])) ++e, ++expDigits;
        if (expDigits == 0) return std::nullopt;
        i = e;
    }
    if (i != s.size()) return std::nullopt;
    std::string copy(s);
    double value = std::strtod(copy.c_str(), nullptr);
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<std::int16_t> toInt16(double value) {
    double rounded = std::nearbyint(value);  // the default rounding mode takes halves to even
    if (!(rounded >= -32768.0 && rounded <= 32767.0)) return std::nullopt;
    return static_cast<std::int16_t>(rounded);
}

std::optional<std::int16_t> parseInt16(std::string_view text) {
    auto value = parseNumeric(text);
    if (!value) return std::nullopt;
    return toInt16(*value);
}

}  // namespace murmur
