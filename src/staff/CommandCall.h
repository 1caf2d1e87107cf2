// One slash command on its way through the interpreter: who typed it, the words, and how to answer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Packets.h"
#include "core/Server.h"

namespace murmur {

constexpr const char* consoleName = "Server Console";

struct CommandCall {
    Server& server;
    std::string callerName;  // the caller's logon name, or "Server Console"
    std::string_view raw;    // the command exactly as typed, "/" included
    std::vector<std::string> words;
    bool fromConsole = false;
    int callerConnection = -1;  // -1 for the console
    std::string rank;           // lower-cased; "admin" for the console

    const std::string& command() const { return words[0]; }
    const std::string& target() const { return words[1]; }
    std::size_t argumentCount() const { return words.size() - 1; }
    clsUserData* callerRecord() const;

    // A notice to the caller; the console sees it in the chat view instead, refusals in red.
    void reply(std::string_view text, NoticeKind kind) const;
};

// The raw text trimmed of spaces, without its "/", split at every single space.
std::vector<std::string> commandWords(std::string_view raw);
// The text between the first occurrence of the word and a space, and the next occurrence.
std::string pieceAfter(std::string_view raw, std::string_view word);

// The command groups.
void finger(const CommandCall& call);
void channelPhantom(const CommandCall& call);
void broadcast(const CommandCall& call);
void kickOrBan(CommandCall& call);
void unban(const CommandCall& call);
void move(const CommandCall& call);
void mute(const CommandCall& call);
void unmute(const CommandCall& call);
void promote(const CommandCall& call);

// Adds the name to the channel's ban list.
void addChannelBan(Server& server, std::string_view name, std::string_view channel);
// The kick or ban of every user whose name matches the target pattern, from the whole server.
void serverRemove(CommandCall& call);

}  // namespace murmur
