// The settings held in memory for one run, read from MMConf.ini at start-up and written back at
// shutdown.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace murmur {

// The keys of MMConf.ini (see settingKeys).
constexpr std::size_t settingKeyCount = 13;

struct Settings {
    // In the order start-up reads them.
    enum Id {
        idProtocol,
        idPort,
        idAuthentication,
        idSpamControl,
        idIdleSystem,
        idLoadControl,
        idAmountOfConnections,
        idAmountOfTime,
        idIdleTime,
        idWriteLogToFile,
        idMessageCount,
        idSecondsToCheck,
        count
    };

    std::int16_t port = 0;
    std::int16_t protocol = 0;
    std::string authentication;
    std::string idleSystem;
    std::string writeLogToFile;
    std::string spamControl;
    std::int16_t messageCount = 0;
    std::int16_t secondsToCheck = 0;
    std::string loadControl;
    std::int16_t amountOfConnections = 0;
    std::int16_t amountOfTime = 0;
    std::int16_t idleTime = 0;
    bool usingAlternatePort = false;

    // Settings that hold a value read from the file or set by the operator. A start-up stopped by
    // a bad value leaves the rest unknown, and shutdown leaves their lines in the file alone.
    std::bitset<count> known;
    void markAllKnown() { known.set(); }

    // What start-up found for each key, in the order of settingKeys: the file's text and the value
    // the setting took from it. A key the operator edits on disk while the server runs, and whose
    // setting nothing changes in memory, keeps the edit at shutdown.
    struct Origin {
        bool read = false;
        std::string onDisk;
        std::string taken;
    };
    std::array<Origin, settingKeyCount> origin;
};

// One key of MMConf.ini and the setting it holds. A setting is a 16-bit number or a text; only
// "Y" turns a switch on.
struct SettingKey {
    Settings::Id id;
    const char* section;
    const char* key;
    const char* name;                  // the setting's own name, as the operator's check shows it
    std::int16_t Settings::*number;    // null for a text setting
    std::string Settings::*text;       // null for a numeric setting
    std::int16_t numberDefault;        // when the value is missing or not numeric
    const char* textDefault;           // when the value is missing or empty
    bool read;                         // Idle System/Enabled is only written: a copy of IdleSystem
    int low, high;                     // the numbers the operator may set
};

// Every key, in the order shutdown writes them: the order a new file lays them out in. Start-up
// reads them in the order of Settings::Id.
extern const std::array<SettingKey, settingKeyCount> settingKeys;
// The key start-up reads the setting from.
const SettingKey& settingKey(Settings::Id id);
// The setting's value as the file holds it: decimal text for a number.
std::string settingText(const Settings& settings, const SettingKey& key);

class IniDocument;

// A value that cannot be taken: the reading stops there, and the settings after it stay unknown.
struct SettingsFailure {
    int number;               // the error number the operator's line shows
    std::string description;  // "Overflow", "Invalid property value"
    std::string key;          // "Section/Key"
};

// The errors a value that cannot be taken raises, as the operator's "Error #" line shows them.
constexpr int errOverflow = 6;
constexpr const char* kOverflow = "Overflow";
constexpr int errInvalidProperty = 380;
constexpr const char* kInvalidProperty = "Invalid property value";

// Reads every setting from MMConf.ini's text, in start-up order, missing or non-numeric values
// giving their defaults. Stops at the first value that does not fit.
std::optional<SettingsFailure> readSettings(const IniDocument& ini, Settings& settings);

// Notes what start-up found in the file, key by key.
void noteOrigin(const IniDocument& ini, Settings& settings);
// The key's line was edited on disk since start-up to something other than the setting's value,
// and nothing changed the setting in memory: shutdown leaves the line as the file now has it.
bool editedOnDiskOnly(const Settings& settings, std::size_t keyIndex, const IniDocument& now);

// The spam window in milliseconds, which the timer holds as a 16-bit number.
int spamPeriod(const Settings& settings);

// Numeric text as the settings accept it: optional spaces and sign, digits with an optional
// fraction and exponent, or &H / &O followed by hexadecimal or octal digits. Nothing else.
std::optional<double> parseNumeric(std::string_view text);

// The number rounded to a whole number, halves to the even one, when it fits a 16-bit signed
// integer.
std::optional<std::int16_t> toInt16(double value);

}  // namespace murmur
