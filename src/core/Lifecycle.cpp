#include "core/Lifecycle.h"

#include <optional>
#include <string>

#include "core/Branding.h"
#include "core/ChatView.h"
#include "core/DataFiles.h"
#include "core/Membership.h"
#include "core/UserList.h"
#include "host/IniFile.h"
#include "host/TextFile.h"

namespace murmur {
namespace {

constexpr const char* kPortInUse = "The current port is already being used. Please select an alternate one to listen on.";
constexpr const char* kAlternateNotSaved = "Since an alternate port has been used, your new settings will not be saved.";
constexpr const char* kPortTaken = "Port cannot be bound, already in use.";
constexpr const char* kOpeningPort = "Opening a new port...";

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

}  // namespace

void loadVariables(Server& server) {
    Settings& s = server.settings;
    std::string text;
    textfile::readWhole(server.path(files::settings), text);
    std::optional<SettingsFailure> failure = readSettings(IniDocument(text), s);

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
    server.titleText = branding::titleText;
    loadVariables(server);
    // Pinging runs for the whole life of the server.
    server.tmrKeepAlive->setEnabled(true);
    server.settings.usingAlternatePort = false;
    clearRecords(server);
    readLists(server);
    refreshCountLabel(server);
    addChat(server, {{colour::yellow, "Listening on port " + std::to_string(server.settings.port) + "..."}});
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
    if (s.usingAlternatePort) return;
    std::string path = server.path(files::settings);
    std::string text;
    if (textfile::readWhole(path, text) == textfile::ReadStatus::failed) {
        addChat(server, {{colour::red, "The settings could not be saved: " + path + " cannot be read."}});
        return;
    }
    IniDocument ini(text);
    // Settings a start-up stopped by a bad value never read keep their lines as they are.
    for (const SettingKey& key : settingKeys)
        if (s.known.test(key.id)) ini.set(key.section, key.key, settingText(s, key));
    if (!textfile::writeWhole(path, ini.text()))
        addChat(server, {{colour::red, "The settings could not be saved: " + path + " cannot be written."}});
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
    return true;
}

}  // namespace murmur
