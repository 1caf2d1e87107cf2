// Keeping order in a channel: kick and ban into "The Void", unban, and move.
#include "core/ChatView.h"
#include "core/Connections.h"
#include "core/Framing.h"
#include "core/Lookups.h"
#include "core/Membership.h"
#include "core/Texts.h"
#include "host/CodePage.h"
#include "host/TextFile.h"
#include "staff/CommandCall.h"

namespace murmur {
namespace {

constexpr const char* kNotPresent = "That user isn't present in the channel.";
constexpr const char* kNotLoggedOn = "That user is not logged on.";
constexpr const char* kNotBanned = "That user is not banned.";
constexpr const char* kNoMovingStaff = "The move command may not be used on staff.";

// A notice of kind "1" to every connected client in the channel.
void noticeToChannel(Server& server, std::string_view channel, std::string_view text) {
    SharedFrame frame = shareFrame(server, out::pktNotice, joinFields({text, "1"}));
    for (ConnectionNumber number : channelMembers(server, channel)) sendFrame(server, number, frame);
}

// Every other connection with a record in the channel learns that the user left it.
void leftChannel(Server& server, ConnectionNumber who, std::string_view listName, std::string_view channel) {
    SharedFrame frame = shareFrame(server, out::pktUserLeftChannel, listName);
    for (ConnectionNumber number : channelMembers(server, channel))
        if (number != who) sendFrame(server, number, frame);
}

}  // namespace

void addChannelBan(Server& server, std::string_view name, std::string_view channel) {
    std::string key = codepage::toLower(channel);
    auto it = server.channelBans.find(key);
    if (it == server.channelBans.end()) server.channelBans.emplace(key, std::string(name));
    else it->second += ", " + std::string(name);
}

void kickOrBan(CommandCall& call) {
    Server& server = call.server;
    const std::string& word = call.command();
    bool isBan = word == "ban";
    std::string reason = call.argumentCount() == 1 ? "." : " (" + pieceAfter(call.raw, call.target()) + ")";

    if ((call.argumentCount() >= 2 && call.words[2] == "--server" && call.rank == "admin") || call.fromConsole)
        return serverRemove(call);
    if (codepage::equalsNoCase(call.target(), call.callerName))
        return call.reply("You can't " + word + " yourself.", NoticeKind::refusal);

    int target = call.target().empty() ? -1 : findUserByName(server, call.target());
    if (target < 0) return call.reply(kNotLoggedOn, NoticeKind::refusal);
    auto targetNumber = static_cast<ConnectionNumber>(target);
    const clsUserData* caller = call.callerRecord();
    std::string callerChannel = caller ? caller->channel : std::string();
    clsUserData* victim = server.users.find(targetNumber);
    std::string targetChannel = victim->channel;
    if (!isBan && !codepage::equalsNoCase(targetChannel, callerChannel))
        return call.reply(kNotPresent, NoticeKind::refusal);
    if (victim->authString != "normal") return call.reply("You cannot " + word + " staff.", NoticeKind::refusal);

    std::string listName = victim->listName;
    addChat(server, {{colour::cyan, listName + (isBan ? " was banned from the channel " : " was kicked out of the channel ") +
                                        targetChannel + " by " + call.callerName + "."}});
    if (isBan) addChannelBan(server, stripPrefix(listName), callerChannel);
    noticeToChannel(server, callerChannel,
                    listName + " has been " + (isBan ? "banned" : "kicked") + " from the channel by " + call.callerName + reason);
    server.host.loop().yield();

    // A user banned from the caller's channel while elsewhere stays where they are.
    if (!isUserInChannel(server, callerChannel, stripPrefix(listName))) return;
    victim = server.users.find(targetNumber);
    if (!victim) return;
    std::string oldChannel = victim->channel;
    enterChannel(server, targetNumber, *victim, texts::voidChannel);
    sendPacket(server, out::pktJoinResult, targetNumber, joinFields({texts::voidChannel, "success"}));
    leftChannel(server, targetNumber, listName, oldChannel);
}

void unban(const CommandCall& call) {
    Server& server = call.server;
    if (!findRecordByName(server, call.target())) return call.reply(texts::notOnline, NoticeKind::refusal);
    const clsUserData* caller = call.callerRecord();
    if (!caller) return call.reply(kNotBanned, NoticeKind::refusal);  // the console stands in no channel
    std::string channel = caller->channel;
    std::string key = codepage::toLower(channel);
    auto it = server.channelBans.find(key);
    std::vector<std::string> names = textfile::split(it == server.channelBans.end() ? "" : it->second, ", ");
    for (auto& name : names) {
        if (!codepage::equalsNoCase(name, call.target())) continue;
        std::string banned = name;
        name.clear();
        server.channelBans[key] = joinNonEmpty(names, ", ");
        noticeToChannel(server, channel, banned + " was unbanned from the channel by " + call.callerName);
        return;
    }
    call.reply(kNotBanned, NoticeKind::refusal);
}

void move(const CommandCall& call) {
    Server& server = call.server;
    int target = findUserByName(server, call.target());
    if (target < 0) return;
    auto targetNumber = static_cast<ConnectionNumber>(target);
    clsUserData* moved = server.users.find(targetNumber);
    if (moved->authString != "normal") return call.reply(kNoMovingStaff, NoticeKind::refusal);

    std::string channel = pieceAfter(call.raw, call.target());
    std::string listName = moved->listName;
    std::string oldChannel = moved->channel;
    sendNotice(server, targetNumber, "You were moved to the channel " + channel + " by " + call.callerName,
               NoticeKind::information);
    sendToAllConnected(server, out::pktNotice,
                       joinFields({listName + " was moved to the channel " + channel + " by " + call.callerName, "1"}),
                       targetNumber);
    enterChannel(server, targetNumber, *moved, channel);
    sendPacket(server, out::pktJoinResult, targetNumber, joinFields({channel, "success"}));
    server.host.loop().yield();

    if (!server.users.contains(targetNumber)) return;
    leftChannel(server, targetNumber, listName, oldChannel);
    const clsUserData* caller = call.callerRecord();
    if (caller && codepage::equalsNoCase(channel, caller->channel))
        sendPacket(server, out::pktUserJoinedChannel, call.callerConnection, listName);
}

}  // namespace murmur
