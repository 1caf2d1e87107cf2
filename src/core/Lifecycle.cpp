#include "core/Lifecycle.h"

#include <string>

#include "core/Branding.h"
#include "core/ChatView.h"
#include "core/UserList.h"
#include "host/IniFile.h"
#include "host/TextFile.h"

namespace murmur {
namespace {

constexpr const char* kPortInUse = "The current port is already being used. Please select an alternate one to listen on.";
constexpr const char* kAlternateNotSaved = "Since an alternate port has been used, your new settings will not be saved.";
constexpr const char* kPortTaken = "Port cannot be bound, already in use.";
constexpr const char* kOpeningPort = "Opening a new port...";

constexpr int errOverflow = 6;
constexpr int errInvalidProperty = 380;

// A setting that cannot be taken stops the reading; the settings after it keep their empty values.
struct LoadFailure {
    int number;
    std::string description;
};

LoadFailure overflow() { return {errOverflow, "Overflow"}; }
LoadFailure invalidProperty() { return {errInvalidProperty, "Invalid property value"}; }

class SettingsReader {
public:
    SettingsReader(Server& server, const IniDocument& ini) : settings_(server.settings), ini_(ini) {}

    // Numeric text becomes the value, anything else the default; a number beyond 16 bits fails.
    std::int16_t number(Settings::Id id, const char* section, const char* key, std::int16_t fallback) {
        std::string text = ini_.get(section, key);
        auto value = parseNumeric(text);
        if (!value) return known(id, fallback);
        auto fitted = toInt16(*value);
        if (!fitted) throw overflow();
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

    Settings& settings_;
    const IniDocument& ini_;
};

std::string bindAddressFor(const Settings& settings) { return settings.protocol != 0 ? "127.0.0.1" : ""; }

bool startListening(Server& server, std::int16_t port, ListenError& error) {
    Listener& listener = server.host.listener();
    listener.close();
    if (port < 0) {
        error = {errInvalidProperty, "Invalid property value"};
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
    textfile::readWhole(server.path(iniFileName), text);
    IniDocument ini(text);
    SettingsReader read(server, ini);
    ListenError listenError;
    bool listening = true;

    try {
        s.protocol = read.number(Settings::idProtocol, "Server", "Protocol", 0) != 0 ? 1 : 0;
        s.port = read.number(Settings::idPort, "Server", "Port", 4800);
        listening = startListening(server, s.port, listenError);

        s.authentication = read.text(Settings::idAuthentication, "Settings", "Authentication", "N");
        s.spamControl = read.text(Settings::idSpamControl, "Spam Control", "Enabled", "Y");
        s.idleSystem = read.text(Settings::idIdleSystem, "Settings", "IdleSystem", "N");
        server.tmrIdle->setEnabled(s.idleSystem == "Y");

        s.loadControl = read.text(Settings::idLoadControl, "Load Control", "Enabled", "N");
        s.amountOfConnections = read.number(Settings::idAmountOfConnections, "Load Control", "AmountOfConnections", 5);
        s.amountOfTime = read.number(Settings::idAmountOfTime, "Load Control", "AmountOfTime", 3);
        server.tmrLoad->setInterval(s.amountOfTime > 0 ? s.amountOfTime * 1000 : 0);

        s.idleTime = read.number(Settings::idIdleTime, "Idle System", "IdleTime", 5);
        s.writeLogToFile = read.text(Settings::idWriteLogToFile, "Settings", "WriteLogToFile", "N");
        s.messageCount = read.number(Settings::idMessageCount, "Spam Control", "MessageCount", 5);

        s.secondsToCheck = read.number(Settings::idSecondsToCheck, "Spam Control", "SecondsToCheck", 3);
        // The spam window is a 16-bit count of milliseconds.
        int period = s.secondsToCheck * 1000;
        if (period > 32767 || period < -32768) throw overflow();
        if (period < 0) throw invalidProperty();
        server.tmrHandleJunk->setInterval(period);

        server.idleMinutes = 0;
    } catch (const LoadFailure& failure) {
        reportStartFailure(server, failure.number, failure.description);
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
    server.users.clear();
    server.restrictedChannels = {""};
    server.idleMessages = {""};
    std::string text;
    if (textfile::readWhole(server.path("RestrictedChannels.txt"), text) == textfile::ReadStatus::ok)
        server.restrictedChannels = textfile::splitCrLf(text);
    server.allowedChannels.clear();
    if (textfile::readWhole(server.path("AllowedChannels.txt"), text) == textfile::ReadStatus::ok)
        server.allowedChannels = textfile::splitCrLf(text);
    if (textfile::readWhole(server.path("Idles.txt"), text) == textfile::ReadStatus::ok)
        server.idleMessages = textfile::splitCrLf(text);
    refreshCountLabel(server);
    addChat(server, {{colour::yellow, "Listening on port " + std::to_string(server.settings.port) + "..."}});
}

void shutDown(Server& server) {
    const Settings& s = server.settings;
    if (s.usingAlternatePort) return;
    std::string path = server.path(iniFileName);
    std::string text;
    if (textfile::readWhole(path, text) == textfile::ReadStatus::failed) {
        addChat(server, {{colour::red, "The settings could not be saved: " + path + " cannot be read."}});
        return;
    }
    IniDocument ini(text);
    auto put = [&](Settings::Id id, const char* section, const char* key, const std::string& value) {
        if (s.known.test(id)) ini.set(section, key, value);
    };
    put(Settings::idPort, "Server", "Port", std::to_string(s.port));
    put(Settings::idProtocol, "Server", "Protocol", std::to_string(s.protocol));
    put(Settings::idAuthentication, "Settings", "Authentication", s.authentication);
    put(Settings::idIdleSystem, "Settings", "IdleSystem", s.idleSystem);
    put(Settings::idWriteLogToFile, "Settings", "WriteLogToFile", s.writeLogToFile);
    put(Settings::idIdleSystem, "Idle System", "Enabled", s.idleSystem);
    put(Settings::idIdleTime, "Idle System", "IdleTime", std::to_string(s.idleTime));
    put(Settings::idMessageCount, "Spam Control", "MessageCount", std::to_string(s.messageCount));
    put(Settings::idSecondsToCheck, "Spam Control", "SecondsToCheck", std::to_string(s.secondsToCheck));
    put(Settings::idSpamControl, "Spam Control", "Enabled", s.spamControl);
    put(Settings::idLoadControl, "Load Control", "Enabled", s.loadControl);
    put(Settings::idAmountOfConnections, "Load Control", "AmountOfConnections", std::to_string(s.amountOfConnections));
    put(Settings::idAmountOfTime, "Load Control", "AmountOfTime", std::to_string(s.amountOfTime));
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
