#include "core/Settings.h"

#include "host/IniFile.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

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

namespace {

constexpr int kLargest = 32767;
constexpr int kMostSpamSeconds = 32;  // the spam window is a 16-bit count of milliseconds
constexpr int kMostLoadSeconds = 60;

using S = Settings;

}  // namespace

const std::array<SettingKey, settingKeyCount> settingKeys = {{
    {S::idPort, "Server", "Port", "Port", &S::port, nullptr, 4800, nullptr, true, 1, kLargest},
    {S::idProtocol, "Server", "Protocol", "Protocol", &S::protocol, nullptr, 0, nullptr, true, 0, 1},
    {S::idAuthentication, "Settings", "Authentication", "Authentication", nullptr, &S::authentication, 0, "N", true, 0, 0},
    {S::idIdleSystem, "Settings", "IdleSystem", "IdleSystem", nullptr, &S::idleSystem, 0, "N", true, 0, 0},
    {S::idWriteLogToFile, "Settings", "WriteLogToFile", "WriteLogToFile", nullptr, &S::writeLogToFile, 0, "N", true, 0, 0},
    {S::idIdleSystem, "Idle System", "Enabled", "IdleSystem", nullptr, &S::idleSystem, 0, "N", false, 0, 0},
    {S::idIdleTime, "Idle System", "IdleTime", "IdleTime", &S::idleTime, nullptr, 5, nullptr, true, 1, kLargest},
    {S::idMessageCount, "Spam Control", "MessageCount", "MessageCount", &S::messageCount, nullptr, 5, nullptr, true, 0, kLargest},
    {S::idSecondsToCheck, "Spam Control", "SecondsToCheck", "SecondsToCheck", &S::secondsToCheck, nullptr, 3, nullptr, true, 0,
     kMostSpamSeconds},
    {S::idSpamControl, "Spam Control", "Enabled", "SpamControl", nullptr, &S::spamControl, 0, "Y", true, 0, 0},
    {S::idLoadControl, "Load Control", "Enabled", "LoadControl", nullptr, &S::loadControl, 0, "N", true, 0, 0},
    {S::idAmountOfConnections, "Load Control", "AmountOfConnections", "AmountOfConnections", &S::amountOfConnections, nullptr, 5,
     nullptr, true, 0, kLargest},
    {S::idAmountOfTime, "Load Control", "AmountOfTime", "AmountOfTime", &S::amountOfTime, nullptr, 3, nullptr, true, 0,
     kMostLoadSeconds},
}};

const SettingKey& settingKey(Settings::Id id) {
    for (const SettingKey& key : settingKeys)
        if (key.id == id && key.read) return key;
    throw std::logic_error("a setting without a key");
}

std::string settingText(const Settings& settings, const SettingKey& key) {
    return key.number ? std::to_string(settings.*key.number) : settings.*key.text;
}

void noteOrigin(const IniDocument& ini, Settings& settings) {
    for (std::size_t i = 0; i < settingKeys.size(); ++i) {
        const SettingKey& key = settingKeys[i];
        Settings::Origin& origin = settings.origin[i];
        origin.read = settings.known.test(key.id);
        origin.onDisk = ini.get(key.section, key.key);
        origin.taken = settingText(settings, key);
    }
}

bool editedOnDiskOnly(const Settings& settings, std::size_t keyIndex, const IniDocument& now) {
    const SettingKey& key = settingKeys[keyIndex];
    const Settings::Origin& origin = settings.origin[keyIndex];
    std::string value = settingText(settings, key);
    std::string onDisk = now.get(key.section, key.key);
    // An edit that says what the server would write anyway is no edit to keep.
    return origin.read && value == origin.taken && onDisk != origin.onDisk && onDisk != value;
}

int spamPeriod(const Settings& settings) { return settings.secondsToCheck * 1000; }

std::optional<SettingsFailure> readSettings(const IniDocument& ini, Settings& s) {
    for (int i = 0; i < Settings::count; ++i) {
        const SettingKey& key = settingKey(static_cast<Settings::Id>(i));
        std::string value = ini.get(key.section, key.key);
        if (key.text) {
            // Any non-empty text is taken as it stands; only "Y" turns a switch on.
            s.*key.text = value.empty() ? std::string(key.textDefault) : value;
        } else if (auto number = parseNumeric(value)) {
            auto fitted = toInt16(*number);
            if (!fitted) return SettingsFailure{errOverflow, kOverflow, std::string(key.section) + "/" + key.key};
            s.*key.number = *fitted;
        } else {
            s.*key.number = key.numberDefault;
        }
        // Any number but 0 asks for the other protocol, which is stored as 1.
        if (key.id == Settings::idProtocol) s.protocol = s.protocol != 0 ? 1 : 0;
        s.known.set(key.id);
    }
    int period = spamPeriod(s);
    if (period > 32767 || period < -32768) return SettingsFailure{errOverflow, kOverflow, "Spam Control/SecondsToCheck"};
    if (period < 0) return SettingsFailure{errInvalidProperty, kInvalidProperty, "Spam Control/SecondsToCheck"};
    return std::nullopt;
}

}  // namespace murmur
