#include "staff/Commands.h"

#include <array>

#include "core/ChatView.h"
#include "core/Connections.h"
#include "core/Lookups.h"
#include "core/Membership.h"
#include "host/CodePage.h"
#include "host/TextFile.h"
#include "staff/CommandCall.h"

namespace murmur {
namespace {

constexpr const char* kNoAuthority = "You do not have authority to use that command.";
constexpr const char* kNoTheAuthority = "You do not have the authority to use that command.";
constexpr const char* kCannotMute = "You are unable to mute users.";
constexpr const char* kCannotUnmute = "You are unable to unmute users.";
constexpr const char* kPhantomOn = "You will now hear messages in every channel.";
constexpr const char* kPhantomOff = "Channel messages are now restricted to your channel.";

enum Ranks { anyRank = 0, adminOnly = 1, staffOnly = 2 };

struct Command {
    const char* word;
    std::size_t arguments;  // at least
    Ranks ranks;
    const char* refusal;  // null: a caller without the rank is ignored
    void (*run)(CommandCall&);
};

// Command words are compared exactly: "/Kick" is not "kick".
const std::array<Command, 11> kCommands = {{
    {"makemod", 1, adminOnly, kNoAuthority, [](CommandCall& c) { promote(c); }},
    {"makeadmin", 1, adminOnly, kNoAuthority, [](CommandCall& c) { promote(c); }},
    {"unban", 1, anyRank, nullptr, [](CommandCall& c) { unban(c); }},
    {"finger", 1, staffOnly, nullptr, [](CommandCall& c) { finger(c); }},
    {"move", 2, adminOnly, kNoAuthority, [](CommandCall& c) { move(c); }},
    {"kick", 1, staffOnly, kNoAuthority, [](CommandCall& c) { kickOrBan(c); }},
    {"ban", 1, staffOnly, kNoAuthority, [](CommandCall& c) { kickOrBan(c); }},
    {"mute", 1, adminOnly, kCannotMute, [](CommandCall& c) { mute(c); }},
    {"unmute", 1, adminOnly, kCannotUnmute, [](CommandCall& c) { unmute(c); }},
    {"channelphantom", 1, adminOnly, kNoAuthority, [](CommandCall& c) { channelPhantom(c); }},
    {"broadcast", 1, adminOnly, kNoTheAuthority, [](CommandCall& c) { broadcast(c); }},
}};

bool allowed(Ranks ranks, const std::string& rank) {
    switch (ranks) {
        case adminOnly: return rank == "admin";
        case staffOnly: return rank == "admin" || rank == "moderator";
        case anyRank: return true;
    }
    return false;
}

}  // namespace

clsUserData* CommandCall::callerRecord() const {
    return callerConnection < 0 ? nullptr : server.users.find(static_cast<ConnectionNumber>(callerConnection));
}

void CommandCall::reply(std::string_view text, NoticeKind kind) const {
    if (fromConsole) {
        addChat(server, {{kind == NoticeKind::refusal ? colour::red : colour::white, std::string(text)}});
        return;
    }
    sendNotice(server, callerConnection, text, kind);
}

std::vector<std::string> commandWords(std::string_view raw) {
    std::size_t first = raw.find_first_not_of(' ');
    if (first == std::string_view::npos) return {""};
    std::string_view trimmed = raw.substr(first, raw.find_last_not_of(' ') - first + 1);
    std::vector<std::string> words = textfile::split(trimmed.substr(1), " ");
    if (words.empty()) words.emplace_back();
    return words;
}

std::string pieceAfter(std::string_view raw, std::string_view word) {
    std::string marker = std::string(word) + " ";
    std::size_t at = raw.find(marker);
    if (at == std::string_view::npos) return {};
    std::size_t start = at + marker.size();
    std::size_t next = raw.find(marker, start);
    return std::string(raw.substr(start, next == std::string_view::npos ? std::string_view::npos : next - start));
}

void processCommand(Server& server, std::string_view callerName, std::string_view rawText, bool fromConsole) {
    CommandCall call{server, std::string(callerName), rawText, commandWords(rawText), fromConsole, -1, "admin"};
    if (!fromConsole) {
        call.rank.clear();
        for (const auto& [number, record] : server.users)
            if (codepage::equalsNoCase(record.originalName, callerName)) {
                call.rank = codepage::toLower(record.authString);
                break;
            }
        call.callerConnection = findUserByName(server, callerName);
        if (!isConnected(server, call.callerConnection)) return;
    }
    for (const Command& command : kCommands) {
        if (call.command() != command.word) continue;
        if (call.argumentCount() < command.arguments) return;
        if (!allowed(command.ranks, call.rank)) {
            if (command.refusal) call.reply(command.refusal, NoticeKind::refusal);
            return;
        }
        command.run(call);
        return;
    }
}

void finger(const CommandCall& call) {
    for (const auto& [number, record] : call.server.users)
        if (codepage::equalsNoCase(record.originalName, call.target()))
            call.reply(record.listName + " is using an IP address of " + record.IP, NoticeKind::information);
}

void channelPhantom(const CommandCall& call) {
    bool on = call.target() == "on";
    if (clsUserData* caller = call.callerRecord())
        setChannelPhantom(call.server, static_cast<ConnectionNumber>(call.callerConnection), *caller, on);
    call.reply(on ? kPhantomOn : kPhantomOff, NoticeKind::information);
}

void broadcast(const CommandCall& call) {
    std::size_t space = call.raw.find(' ');
    std::string message = space == std::string_view::npos ? std::string() : std::string(call.raw.substr(space + 1));
    addChat(call.server, {{colour::white, "Broadcast from "},
                          {colour::cyan, call.callerName},
                          {colour::white, ": "},
                          {colour::blue, message}});
    noticeToAll(call.server, "Broadcast from " + call.callerName + ": " + message);
}

}  // namespace murmur
