#include "app/DataCheck.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <functional>

#include "core/DataFiles.h"
#include "core/Settings.h"
#include "host/IniFile.h"
#include "host/TextFile.h"
#include "protocol/Channels.h"
#include "protocol/Logon.h"
#include "staff/Accounts.h"

namespace murmur {
namespace {

class Checker {
public:
    explicit Checker(const std::string& directory) : directory_(directory) {}

    void found(const std::string& line) { report.lines.push_back(line); }
    void problem(const std::string& line) {
        report.lines.push_back("Problem: " + line);
        ++report.problems;
    }

    // The lines of a list file; nothing when it is missing, a problem when it cannot be read.
    std::vector<std::string> lines(const char* name, bool& present) {
        std::string text;
        present = false;
        switch (textfile::readWhole(textfile::pathIn(directory_, name), text)) {
            case textfile::ReadStatus::missing: return {};
            case textfile::ReadStatus::failed: problem(std::string(name) + " cannot be read."); return {};
            case textfile::ReadStatus::ok: break;
        }
        present = true;
        return textfile::splitCrLf(text);
    }

    void settings();
    // A list file: its entries counted, and each entry that can never match reported.
    void list(const char* name, const char* what, const std::function<std::string(const std::string&)>& unusable);
    void accounts();
    // Staff rank needs the password of the name's account: a staff name without one is a problem.
    void staffPasswords(const char* roster);

    CheckReport report;

private:
    const std::string& directory_;
};

using S = Settings;

std::string lineOf(const char* file, std::size_t index) { return std::string(file) + " line " + std::to_string(index + 1); }

// Why a name in a roster or ban list can never be that of a user, or empty when it can be.
std::string unusableName(const std::string& name) {
    if (name.find('\n') != std::string::npos) return "it holds a bare line feed (lines must end with CR LF)";
    switch (logonNameProblem(name)) {
        case NameProblem::space: return "it holds a space, which no logon name has";
        case NameProblem::controlOrColon: return "it holds a control character or a colon";
        case NameProblem::staffPrefix: return "it starts with \"@\" or \"%\", which no logon name does";
        case NameProblem::tooLong: return "it is longer than " + std::to_string(maxNameLength) + " characters, as no logon name is";
        case NameProblem::empty:
        case NameProblem::none: break;
    }
    return {};
}

std::string unusableAddress(const std::string& address) {
    unsigned char bytes[16];
    if (::inet_pton(AF_INET, address.c_str(), bytes) == 1 || ::inet_pton(AF_INET6, address.c_str(), bytes) == 1) return {};
    return "it is no address";
}

std::string unusableChannel(const std::string& channel) {
    return channel.size() > maxChannelLength ? "channel names have at most " + std::to_string(maxChannelLength) + " characters"
                                             : std::string();
}

std::string anyMessage(const std::string&) { return {}; }

void Checker::settings() {
    std::string text;
    std::string path = textfile::pathIn(directory_, files::settings);
    switch (textfile::readWhole(path, text)) {
        case textfile::ReadStatus::failed: problem(std::string(files::settings) + " cannot be read."); return;
        case textfile::ReadStatus::missing: found(std::string(files::settings) + " is missing: every setting has its default."); break;
        case textfile::ReadStatus::ok: break;
    }
    IniDocument ini(text);
    Settings s;
    auto failure = readSettings(ini, s);
    if (failure) {
        problem(std::string(files::settings) + ": " + failure->key + " cannot be taken (" + failure->description +
                "); the server stops reading the settings there.");
    } else {
        std::string effect = "Settings in effect:";
        for (Settings::Id id : {S::idPort, S::idProtocol, S::idAuthentication, S::idIdleSystem, S::idIdleTime,
                                S::idWriteLogToFile, S::idSpamControl, S::idMessageCount, S::idSecondsToCheck,
                                S::idLoadControl, S::idAmountOfConnections, S::idAmountOfTime})
            effect += std::string(" ") + settingKey(id).name + "=" + settingText(s, settingKey(id));
        found(effect);
    }
    // Every value, also those after a value that stops the server's reading, so that one look
    // finds all there is to mend.
    for (const SettingKey& key : settingKeys) {
        if (!key.read) continue;
        std::string where = std::string(key.section) + "/" + key.key;
        std::string value = ini.get(key.section, key.key);
        if (value.empty() || (failure && failure->key == where)) continue;
        if (key.text) {
            if (value != "Y" && value != "N") problem(where + " is \"" + value + "\": only \"Y\" turns it on.");
            continue;
        }
        auto number = parseNumeric(value);
        if (!number) {
            problem(where + " \"" + value + "\" is not a number: the server takes the default, " +
                    std::to_string(key.numberDefault) + ".");
            continue;
        }
        auto fitted = toInt16(*number);
        if (!fitted) {
            problem(std::string(files::settings) + ": " + where + " cannot be taken (" + kOverflow + ").");
            continue;
        }
        // Any number asks for a protocol: all but 0 are taken as 1.
        if (key.id != S::idProtocol && (*fitted < key.low || *fitted > key.high))
            problem(where + " " + std::to_string(*fitted) + " is outside " + std::to_string(key.low) + " to " +
                    std::to_string(key.high) + ", the range the settings dialog allows.");
    }
}

void Checker::list(const char* name, const char* what, const std::function<std::string(const std::string&)>& unusable) {
    bool present = false;
    std::size_t count = 0;
    std::vector<std::string> all = lines(name, present);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].empty()) continue;
        ++count;
        std::string why = unusable(all[i]);
        if (!why.empty()) problem(lineOf(name, i) + " \"" + all[i] + "\" can never match: " + why + ".");
    }
    if (present) found(std::string(what) + " (" + name + "): " + std::to_string(count));
}

void Checker::accounts() {
    const char* name = files::accounts;
    bool present = false;
    std::size_t count = 0;
    std::vector<std::string> all = lines(name, present);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].empty()) continue;
        // The piece after the last CR LF is never read as an account.
        if (i + 1 == all.size()) problem(lineOf(name, i) + " has no line end and is never read.");
        else if (all[i].find(':') == std::string::npos) problem(lineOf(name, i) + " has no colon and is no account.");
        else ++count;
    }
    if (present) found("Accounts (" + std::string(name) + "): " + std::to_string(count));
}

void Checker::staffPasswords(const char* roster) {
    std::string accounts;
    if (textfile::readWhole(textfile::pathIn(directory_, files::accounts), accounts) == textfile::ReadStatus::failed)
        return;  // a problem of its own already
    std::string names;
    if (textfile::readWhole(textfile::pathIn(directory_, roster), names) != textfile::ReadStatus::ok) return;
    std::vector<std::string> all = textfile::splitCrLf(names);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string& name = all[i];
        if (name.empty() || !unusableName(name).empty()) continue;
        std::optional<std::string> stored = findAccount(accounts, name);
        if (!stored || stored->empty())
            problem(lineOf(roster, i) + " " + name + " has no password: staff rights need one; set it with murmur-server --passwd " + name);
    }
}

}  // namespace

CheckReport checkDataDirectory(const std::string& directory) {
    Checker check(directory);
    const std::string shown = directory.empty() ? std::string(".") : directory;
    check.found("Data directory: " + shown);
    struct stat st {};
    if (::stat(shown.c_str(), &st) != 0) {
        check.problem("The data directory " + shown + " does not exist.");
    } else if (!S_ISDIR(st.st_mode)) {
        check.problem(shown + " is no directory.");
    } else {
        check.settings();
        check.accounts();
        check.list(files::administrators, "Administrators", unusableName);
        check.list(files::moderators, "Moderators", unusableName);
        check.staffPasswords(files::administrators);
        check.staffPasswords(files::moderators);
        check.list(files::bannedNames, "Banned names", unusableName);
        check.list(files::bannedAddresses, "Banned addresses", unusableAddress);
        check.list(files::restrictedChannels, "Restricted channels", unusableChannel);
        check.list(files::allowedChannels, "Allowed channels", unusableChannel);
        check.list(files::idleMessages, "Idle messages", anyMessage);
    }
    int problems = check.report.problems;
    check.found(problems == 0 ? "No problems found." : std::to_string(problems) + (problems == 1 ? " problem" : " problems") + " found.");
    return check.report;
}

}  // namespace murmur
