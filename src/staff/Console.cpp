#include "staff/Console.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <utility>

#include "core/ChatView.h"
#include "core/Connections.h"
#include "core/Framing.h"
#include "core/Lookups.h"
#include "core/Membership.h"
#include "core/Packets.h"
#include "core/UserList.h"
#include "host/CodePage.h"
#include "host/TextFile.h"
#include "staff/CommandCall.h"
#include "staff/Commands.h"

namespace murmur {
namespace {

constexpr const char* kDumped = "Dumped chat screen.";
constexpr const char* kNotLoggedOn = "(not logged on)";
constexpr const char* kRestricted = ", restricted";
constexpr const char* kConsoleHeading = "Console commands:";
constexpr const char* kStaffHeading = "Staff commands, run as Server Console with an administrator's rights:";

// One line each: the command as typed, and what it does.
using HelpLine = std::pair<const char*, const char*>;
constexpr std::array<HelpLine, 7> kConsoleHelp = {{
    {"TEXT", "a server message to every connected client"},
    {"/help", "this list"},
    {"/users", "every connection: number, name, address, channel, client and time logged on"},
    {"/channels", "every channel with its users; restricted ones are marked"},
    {"/stats", "uptime, connections, users, logons, traffic and memory"},
    {"/cls", "empty the chat view"},
    {"/sweepserv", "close every connection and forget every user, without a word"},
}};
constexpr std::array<HelpLine, 11> kStaffHelp = {{
    {"/kick NAME [REASON]", "remove every user whose name matches (? * # [a-z]) from the server"},
    {"/ban NAME [REASON]", "the same, and add NAME to banned.txt"},
    {"/move NAME CHANNEL", "put a user into a channel"},
    {"/mute NAME", "withhold a user's chat from everyone but staff"},
    {"/unmute NAME", "let a muted user be heard again"},
    {"/makemod NAME", "make a logged-on user a moderator and add the name to mods.txt"},
    {"/makeadmin NAME", "make a logged-on user an administrator and add the name to admin.txt"},
    {"/broadcast TEXT", "a notice to every connected client"},
    {"/finger NAME", "show the address of every user of that name"},
    {"/unban NAME", "lift a channel ban (a staff client's, in its own channel)"},
    {"/channelphantom on|off", "hear every channel (a staff client's)"},
}};

// The console's own command word: letter case does not matter for these.
std::string consoleWord(const std::string& text) { return codepage::toLower(commandWords(text)[0]); }

// Closes every connection and forgets every user, without a word to anybody. From the top down,
// each socket is the highest when it goes, so all but socket 0 leave the array.
void sweepServer(Server& server) {
    for (int i = socketCount(server) - 1; i >= 0; --i) endConnection(server, static_cast<ConnectionNumber>(i), {.unload = true});
    clearRecords(server);
    clearUserList(server);
    refreshCountLabel(server);
}

// "HH:MM:SS", with the days in front once there are any.
std::string formatDuration(std::int64_t seconds) {
    char text[48];
    std::int64_t days = seconds / 86400;
    int h = static_cast<int>(seconds / 3600 % 24), m = static_cast<int>(seconds / 60 % 60), s = static_cast<int>(seconds % 60);
    if (days > 0) std::snprintf(text, sizeof text, "%lldd %02d:%02d:%02d", static_cast<long long>(days), h, m, s);
    else std::snprintf(text, sizeof text, "%02d:%02d:%02d", h, m, s);
    return text;
}

std::uint32_t ticksSince(const Server& server, std::uint32_t tick) {
    return static_cast<std::uint32_t>(server.host.loop().tickCount()) - tick;
}

std::int64_t wallSeconds(const LocalTime& t) {
    using namespace std::chrono;
    auto day = sys_days{year{t.year} / month{static_cast<unsigned>(t.month)} / t.day};
    return day.time_since_epoch().count() * std::int64_t{86400} + t.hour * 3600 + t.minute * 60 + t.second;
}

// The tick count is exact but wraps every 49.7 days; the clock, though it may be set or skip an
// hour, tells how many times it has.
std::int64_t uptimeSeconds(const Server& server) {
    constexpr std::int64_t wrap = std::int64_t{1} << 32;
    std::int64_t ticks = ticksSince(server, static_cast<std::uint32_t>(server.counters.startTick));
    std::int64_t wallMs = (wallSeconds(server.host.clock().now()) - wallSeconds(server.counters.startTime)) * 1000;
    std::int64_t wraps = wallMs > ticks ? (wallMs - ticks + wrap / 2) / wrap : 0;
    return (ticks + wraps * wrap) / 1000;
}

std::string residentMemory() {
    std::string status;
    if (textfile::readWhole("/proc/self/status", status) != textfile::ReadStatus::ok) return "unknown";
    std::size_t at = status.find("\nVmRSS:");
    if (at == std::string::npos) return "unknown";
    std::size_t start = status.find_first_not_of(" \t", at + 7);
    std::size_t end = status.find('\n', start);
    return status.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void showHelp(Server& server) {
    auto list = [&](const char* heading, const auto& lines) {
        addChat(server, {{colour::green, heading}});
        for (const auto& [command, meaning] : lines)
            addChat(server, {{colour::cyan, command}, {colour::white, std::string(" - ") + meaning}});
    };
    list(kConsoleHeading, kConsoleHelp);
    list(kStaffHeading, kStaffHelp);
}

void showUsers(Server& server) {
    for (int i = 0; i < socketCount(server); ++i) {
        if (!isConnected(server, i)) continue;
        std::string number = "Connection #" + std::to_string(i + 1) + ": ";
        std::string from = " from " + remoteAddress(server, i);
        const clsUserData* record = server.users.find(static_cast<ConnectionNumber>(i));
        if (!record || !record->hasLoggedIn) {
            addChat(server, {{colour::yellow, number}, {colour::white, kNotLoggedOn + from}});
            continue;
        }
        std::int64_t on = ticksSince(server, static_cast<std::uint32_t>(record->initialPing) + static_cast<std::uint32_t>(record->ping)) / 1000;
        addChat(server, {{colour::yellow, number},
                         {colour::white, record->listName + from + " in " + record->channel + ", " + record->product +
                                             ", logged on for " + formatDuration(on)}});
    }
    addChat(server, {{colour::yellow, "Total Users: " + std::to_string(server.lstUsers.size())}});
}

void showChannels(Server& server) {
    // Lower-cased name to the name as its users hold it and their list names, in connection order.
    std::map<std::string, std::pair<std::string, std::vector<std::string>>> channels;
    for (int i = 0; i < socketCount(server); ++i) {
        const clsUserData* record = server.users.find(static_cast<ConnectionNumber>(i));
        if (!record || !record->hasLoggedIn || !isConnected(server, i)) continue;
        auto& [name, members] = channels[codepage::toLower(record->channel)];
        if (members.empty()) name = record->channel;
        members.push_back(record->listName);
    }
    for (const auto& [key, channel] : channels) {
        const auto& [name, members] = channel;
        std::string restricted = isRestricted(server, name) ? kRestricted : "";
        addChat(server, {{colour::cyan, name},
                         {colour::white, " (" + std::to_string(members.size()) + restricted + "): " + joinNonEmpty(members, ", ")}});
    }
    addChat(server, {{colour::yellow, "Total Channels: " + std::to_string(channels.size())}});
}

void showStats(Server& server) {
    const Counters& c = server.counters;
    int open = 0;
    for (int i = 0; i < socketCount(server); ++i) open += isConnected(server, i);
    auto line = [&](const char* label, const std::string& value) { addChat(server, {{colour::green, label}, {colour::white, value}}); };
    line("Uptime: ", formatDuration(uptimeSeconds(server)));
    line("Connections: ", std::to_string(open) + " open, " + std::to_string(server.lstUsers.size()) + " users logged on");
    line("Logons since start: ",
         std::to_string(c.logons) + " accepted, " + std::to_string(c.logonAttempts - c.logons) + " refused");
    line("Traffic since start: ", std::to_string(c.bytesIn) + " bytes in, " + std::to_string(c.bytesOut) + " bytes out");
    line("Memory: ", residentMemory());
}

}  // namespace

void consoleEntry(Server& server, const std::string& text) {
    if (text.empty()) return;
    try {
        if (text[0] != '/') {
            sendToAllConnected(server, out::pktServerMessage, text);
            addChat(server, {{colour::cyan, "<SERVER MESSAGE> "}, {colour::white, text}});
            return;
        }
        std::string word = consoleWord(text);
        if (word == "cls") {
            server.rtbChat.clear();
            addChat(server, {{colour::green, kDumped}});
        } else if (word == "sweepserv") {
            sweepServer(server);
        } else if (word == "help") {
            showHelp(server);
        } else if (word == "users") {
            showUsers(server);
        } else if (word == "channels") {
            showChannels(server);
        } else if (word == "stats") {
            showStats(server);
        } else if (!word.empty()) {
            processCommand(server, consoleName, text, true);
        }
    } catch (const std::exception& failure) {
        addChat(server, {{colour::red, "The console command failed: " + std::string(failure.what())}});
    }
}

}  // namespace murmur
