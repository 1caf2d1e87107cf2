#include "core/Lifecycle.h"

#include <filesystem>
#include <optional>
#include <string>

#include "core/Branding.h"
#include "core/ChatView.h"
#include "core/DataFiles.h"
#include "core/Membership.h"
#include "core/UserList.h"
#include "core/Version.h"
#include "host/IniFile.h"
#include "host/TextFile.h"

namespace murmur {
namespace {

constexpr const char* kPortInUse = "The current port is already being used. Please select an alternate one to listen on.";
constexpr const char* kAlternateNotSaved = "Since an alternate port has been used, your new settings will not be saved.";
constexpr const char* kPortTaken = "Port cannot be bound, already in use.";
constexpr const char* kOpeningPort = "Opening a new port...";
constexpr const char* kLoopbackOnly = "Only clients on this machine can connect (Protocol is not 0).";
constexpr const char* kKeptEdits = "Kept as edited in MMConf.ini while the server ran: ";
constexpr const char* kNotSavedAlternate = "settings not saved: an alternate port is in use.";

std::string bindAddressFor(const Settings& settings) { return settings.protocol != 0 ? "127.0.0.1" : ""; }

bool startListening(Server& server, std::int16_t port, ListenError& error) {
    Listener& listener = server.host.listener();
    listener.close();
    if (port < 0) {
        error = {errInvalidProperty, kInvalidProperty};
        return false;
    }
    return listener.listen(bindAddressFor(server.settings), port, error);
}

void reportStartFailure(Server& server, int number, const std::string& description) {
    addChat(server, {{colour::red, "Error #" + std::to_string(number) + ": " + description + " in Form_Load()"}});
}

// The data directory as the operator would find it: absolute, without following links.
std::string shownDirectory(const std::string& directory) {
    std::error_code ignored;
    std::filesystem::path path = std::filesystem::absolute(directory.empty() ? "." : directory, ignored).lexically_normal();
    std::string text = path.string();
    if (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

void announceLoopbackOnly(Server& server) {
    if (server.settings.protocol != 0) addChat(server, {{colour::yellow, kLoopbackOnly}});
}

}  // namespace

void loadVariables(Server& server) {
    Settings& s = server.settings;
    std::string text;
    textfile::readWhole(server.path(files::settings), text);
    IniDocument ini(text);
    std::optional<SettingsFailure> failure = readSettings(ini, s);
    noteOrigin(ini, s);
    // The first line of every run, written once the settings say whether the chat log gets it.
    addChat(server, {{colour::yellow, std::string("Murmur Server ") + version + ", data in " + shownDirectory(server.dataDirectory)}});

    ListenError listenError;
    bool listening = !s.known.test(Settings::idPort) || startListening(server, s.port, listenError);
    if (s.known.test(Settings::idIdleSystem)) server.tmrIdle->setEnabled(s.idleSystem == "Y");
    if (s.known.test(Settings::idAmountOfTime)) server.tmrLoad->setInterval(s.amountOfTime > 0 ? s.amountOfTime * 1000 : 0);
    if (!failure) {
        server.tmrHandleJunk->setInterval(spamPeriod(s));
        server.idleMinutes = 0;
    } else {
        reportStartFailure(server, failure->number, failure->description);
    }

    // A port that cannot be taken is reported once the settings are in: the rest of the
    // configuration (validation above all) must not be lost with it.
    if (!listening) {
        if (listenError.number == errAddressInUse) {
            server.ui().messageBox(kPortInUse);
            server.ui().askAlternatePort();
        } else {
            reportStartFailure(server, listenError.number, listenError.description);
        }
    }
}

void startUp(Server& server) {
    server.counters.startTick = server.host.loop().tickCount();
    server.counters.startTime = server.host.clock().now();
    server.titleText = branding::titleText;
    loadVariables(server);
    // Pinging runs for the whole life of the server.
    server.tmrKeepAlive->setEnabled(true);
    server.settings.usingAlternatePort = false;
    clearRecords(server);
    readLists(server);
    refreshCountLabel(server);
    // Only what is true: a port that could not be taken has had its own lines.
    if (!server.host.listener().isListening()) return;
    addChat(server, {{colour::yellow, "Listening on port " + std::to_string(server.settings.port) + "..."}});
    announceLoopbackOnly(server);
}

void readLists(Server& server) {
    // A missing list file leaves one empty entry, as the lists have always started.
    auto read = [&](const char* name, std::vector<std::string> missing) {
        std::string text;
        if (textfile::readWhole(server.path(name), text) != textfile::ReadStatus::ok) return missing;
        return textfile::splitCrLf(text);
    };
    server.restrictedChannels = read(files::restrictedChannels, {""});
    server.allowedChannels = read(files::allowedChannels, {});
    server.idleMessages = read(files::idleMessages, {""});
}

void reloadLists(Server& server) {
    readLists(server);
    auto count = [](const std::vector<std::string>& list) {
        std::size_t n = 0;
        for (const auto& entry : list) n += !entry.empty();
        return std::to_string(n);
    };
    addChat(server, {{colour::green, std::string("Reloaded ") + files::restrictedChannels + " (" + count(server.restrictedChannels) +
                                         " channels), " + files::allowedChannels + " (" + count(server.allowedChannels) +
                                         " channels) and " + files::idleMessages + " (" + count(server.idleMessages) +
                                         " messages)."}});
}

void shutDown(Server& server) {
    const Settings& s = server.settings;
    std::string closing = "Shutting down: " + std::to_string(server.lstUsers.size()) + " users disconnected, ";
    if (s.usingAlternatePort) return addChat(server, {{colour::yellow, closing + kNotSavedAlternate}});
    std::string path = server.path(files::settings);
    std::string text;
    if (textfile::readWhole(path, text) == textfile::ReadStatus::failed) {
        addChat(server, {{colour::red, "The settings could not be saved: " + path + " cannot be read."}});
        return addChat(server, {{colour::yellow, closing + "settings not saved: " + files::settings + " cannot be read."}});
    }
    IniDocument ini(text);
    std::string kept;
    for (std::size_t i = 0; i < settingKeys.size(); ++i) {
        const SettingKey& key = settingKeys[i];
        // Settings a start-up stopped by a bad value never read keep their lines as they are.
        if (!s.known.test(key.id)) continue;
        if (!editedOnDiskOnly(s, i, ini)) {
            ini.set(key.section, key.key, settingText(s, key));
            continue;
        }
        std::string name = std::string(key.section) + "/" + key.key;
        kept += (kept.empty() ? "" : ", ") + (ini.has(key.section, key.key) ? name + "=" + ini.get(key.section, key.key) : name + " (removed)");
    }
    if (!textfile::writeWhole(path, ini.text())) {
        addChat(server, {{colour::red, "The settings could not be saved: " + path + " cannot be written."}});
        return addChat(server, {{colour::yellow, closing + "settings not saved: " + files::settings + " cannot be written."}});
    }
    if (!kept.empty()) addChat(server, {{colour::yellow, std::string(kKeptEdits) + kept + "."}});
    addChat(server, {{colour::yellow, closing + "settings saved to " + files::settings + "."}});
}

PortEntry readPortEntry(std::string_view text, std::int16_t& port) {
    auto number = parseNumeric(text);
    if (!number) return PortEntry::notNumeric;
    auto fitted = toInt16(*number);
    if (!fitted || *fitted < 1) return PortEntry::outOfRange;
    port = *fitted;
    return PortEntry::valid;
}

std::string alternatePortQuestion(int port) {
    return "The port " + std::to_string(port) + " is already in use. Please select an alternate port to listen on.";
}

bool listenOnAlternatePort(Server& server, std::int16_t port) {
    ListenError error;
    if (!startListening(server, port, error)) return false;
    server.settings.port = port;
    server.ui().messageBox(kAlternateNotSaved);
    server.settings.usingAlternatePort = true;
    addChat(server, {{colour::red, kPortTaken}});
    addChat(server, {{colour::yellow, kOpeningPort}});
    addChat(server, {{colour::green, "Listening on port " + std::to_string(port) + "..."}});
    announceLoopbackOnly(server);
    return true;
}

}  // namespace murmur
