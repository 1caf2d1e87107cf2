#include "core/Settings.h"

#include "host/IniFile.h"

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

namespace {

class SettingsReader {
public:
    SettingsReader(const IniDocument& ini, Settings& settings) : ini_(ini), settings_(settings) {}

    // Numeric text becomes the value, anything else the default; a number beyond 16 bits fails.
    std::int16_t number(Settings::Id id, const char* section, const char* key, std::int16_t fallback) {
        auto value = parseNumeric(ini_.get(section, key));
        if (!value) return known(id, fallback);
        auto fitted = toInt16(*value);
        if (!fitted) throw SettingsFailure{errOverflow, kOverflow, std::string(section) + "/" + key};
        return known(id, *fitted);
    }

    std::string text(Settings::Id id, const char* section, const char* key, const char* fallback) {
        std::string value = ini_.get(section, key);
        return known(id, value.empty() ? std::string(fallback) : value);
    }

private:
    template <typename T>
    T known(Settings::Id id, T value) {
        settings_.known.set(id);
        return value;
    }

    const IniDocument& ini_;
    Settings& settings_;
};

}  // namespace

int spamPeriod(const Settings& settings) { return settings.secondsToCheck * 1000; }

std::optional<SettingsFailure> readSettings(const IniDocument& ini, Settings& s) {
    SettingsReader read(ini, s);
    try {
        s.protocol = read.number(Settings::idProtocol, "Server", "Protocol", 0) != 0 ? 1 : 0;
        s.port = read.number(Settings::idPort, "Server", "Port", 4800);
        s.authentication = read.text(Settings::idAuthentication, "Settings", "Authentication", "N");
        s.spamControl = read.text(Settings::idSpamControl, "Spam Control", "Enabled", "Y");
        s.idleSystem = read.text(Settings::idIdleSystem, "Settings", "IdleSystem", "N");
        s.loadControl = read.text(Settings::idLoadControl, "Load Control", "Enabled", "N");
        s.amountOfConnections = read.number(Settings::idAmountOfConnections, "Load Control", "AmountOfConnections", 5);
        s.amountOfTime = read.number(Settings::idAmountOfTime, "Load Control", "AmountOfTime", 3);
        s.idleTime = read.number(Settings::idIdleTime, "Idle System", "IdleTime", 5);
        s.writeLogToFile = read.text(Settings::idWriteLogToFile, "Settings", "WriteLogToFile", "N");
        s.messageCount = read.number(Settings::idMessageCount, "Spam Control", "MessageCount", 5);
        s.secondsToCheck = read.number(Settings::idSecondsToCheck, "Spam Control", "SecondsToCheck", 3);
    } catch (const SettingsFailure& failure) {
        return failure;
    }
    int period = spamPeriod(s);
    if (period > 32767 || period < -32768) return SettingsFailure{errOverflow, kOverflow, "Spam Control/SecondsToCheck"};
    if (period < 0) return SettingsFailure{errInvalidProperty, kInvalidProperty, "Spam Control/SecondsToCheck"};
    return std::nullopt;
}

}  // namespace murmur
