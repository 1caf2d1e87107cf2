#include "core/DataCheck.h"

#include <arpa/inet.h>

#include <functional>

#include "core/Lifecycle.h"
#include "core/Settings.h"
#include "host/IniFile.h"
#include "host/TextFile.h"

namespace murmur {
namespace {

constexpr std::size_t kLongestChannel = 15;

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

    CheckReport report;

private:
    const std::string& directory_;
};

std::string lineOf(const char* file, std::size_t index) { return std::string(file) + " line " + std::to_string(index + 1); }

// Why a name in a roster or ban list can never be that of a user, or empty when it can be.
std::string unusableName(const std::string& name) {
    if (name.find('\n') != std::string::npos) return "it holds a bare line feed (lines must end with CR LF)";
    if (name.find(' ') != std::string::npos) return "it holds a space, which no logon name has";
    for (char c : name)
        if (static_cast<unsigned char>(c) < 32 || c == ':') return "it holds a control character or a colon";
    if (name[0] == '@' || name[0] == '%') return "it starts with \"@\" or \"%\", which no logon name does";
    return {};
}

std::string unusableAddress(const std::string& address) {
    unsigned char bytes[16];
    if (::inet_pton(AF_INET, address.c_str(), bytes) == 1 || ::inet_pton(AF_INET6, address.c_str(), bytes) == 1) return {};
    return "it is no address";
}

std::string unusableChannel(const std::string& channel) {
    return channel.size() > kLongestChannel ? "channel names have at most 15 characters" : std::string();
}

std::string anyMessage(const std::string&) { return {}; }

void Checker::settings() {
    std::string text;
    std::string path = textfile::pathIn(directory_, iniFileName);
    switch (textfile::readWhole(path, text)) {
        case textfile::ReadStatus::failed: problem(std::string(iniFileName) + " cannot be read."); return;
        case textfile::ReadStatus::missing: found(std::string(iniFileName) + " is missing: every setting has its default."); break;
        case textfile::ReadStatus::ok: break;
    }
    Settings s;
    auto failure = readSettings(IniDocument(text), s);
    if (failure) {
        problem(std::string(iniFileName) + ": " + failure->key + " cannot be taken (" + failure->description +
                "); the server stops reading the settings there.");
        return;
    }
    found("Settings in effect: Port=" + std::to_string(s.port) + " Protocol=" + std::to_string(s.protocol) +
          " Authentication=" + s.authentication + " IdleSystem=" + s.idleSystem + " IdleTime=" + std::to_string(s.idleTime) +
          " WriteLogToFile=" + s.writeLogToFile + " SpamControl=" + s.spamControl + " MessageCount=" +
          std::to_string(s.messageCount) + " SecondsToCheck=" + std::to_string(s.secondsToCheck) + " LoadControl=" +
          s.loadControl + " AmountOfConnections=" + std::to_string(s.amountOfConnections) + " AmountOfTime=" +
          std::to_string(s.amountOfTime));
    if (s.port < 1) problem("Server/Port " + std::to_string(s.port) + " is no port the server can listen on.");
    struct Switch {
        const char* key;
        const std::string& value;
    };
    for (const Switch& flag : {Switch{"Settings/Authentication", s.authentication}, Switch{"Settings/IdleSystem", s.idleSystem},
                               Switch{"Settings/WriteLogToFile", s.writeLogToFile}, Switch{"Spam Control/Enabled", s.spamControl},
                               Switch{"Load Control/Enabled", s.loadControl}})
        if (flag.value != "Y" && flag.value != "N")
            problem(std::string(flag.key) + " is \"" + flag.value + "\": only \"Y\" turns it on.");
    struct Count {
        const char* key;
        int value;
    };
    for (const Count& count : {Count{"Spam Control/MessageCount", s.messageCount}, Count{"Spam Control/SecondsToCheck", s.secondsToCheck},
                               Count{"Load Control/AmountOfConnections", s.amountOfConnections},
                               Count{"Load Control/AmountOfTime", s.amountOfTime}})
        if (count.value < 0) problem(std::string(count.key) + " " + std::to_string(count.value) + " is below 0.");
    if (s.idleSystem == "Y" && s.idleTime < 1)
        problem("Idle System/IdleTime " + std::to_string(s.idleTime) + " makes no announcement at all.");
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
    const char* name = "users.txt";
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

}  // namespace

CheckReport checkDataDirectory(const std::string& directory) {
    Checker check(directory);
    check.found("Data directory: " + (directory.empty() ? std::string(".") : directory));
    check.settings();
    check.accounts();
    check.list("admin.txt", "Administrators", unusableName);
    check.list("mods.txt", "Moderators", unusableName);
    check.list("banned.txt", "Banned names", unusableName);
    check.list("IPs.txt", "Banned addresses", unusableAddress);
    check.list("RestrictedChannels.txt", "Restricted channels", unusableChannel);
    check.list("AllowedChannels.txt", "Allowed channels", unusableChannel);
    check.list("Idles.txt", "Idle messages", anyMessage);
    int problems = check.report.problems;
    check.found(problems == 0 ? "No problems found." : std::to_string(problems) + (problems == 1 ? " problem" : " problems") + " found.");
    return check.report;
}

}  // namespace murmur
