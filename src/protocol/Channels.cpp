#include "protocol/Channels.h"

#include "core/ChatView.h"
#include "core/Framing.h"
#include "core/Lookups.h"
#include "core/Membership.h"
#include "core/Packets.h"
#include "core/Texts.h"
#include "host/CodePage.h"
#include "host/TextFile.h"

namespace murmur {
namespace {

constexpr const char* kTooLong = "The channel name is too long.";
constexpr const char* kRestricted = "That channel is restricted.";

// Another record with a staff rank in the channel.
bool otherStaffIn(const Server& server, ConnectionNumber self, std::string_view channel) {
    for (const auto& [number, record] : server.users)
        if (number != self && codepage::equalsNoCase(record.channel, channel) &&
            codepage::toLower(record.authString) != "normal")
            return true;
    return false;
}

// Every other record in the channel whose socket is connected gets the frame.
void tellChannel(Server& server, ConnectionNumber self, std::string_view channel, SharedFrame frame) {
    for (ConnectionNumber number : channelMembers(server, channel))
        if (number != self) sendFrame(server, number, frame);
}

}  // namespace

bool listHoldsName(std::string_view list, std::string_view name) {
    for (const auto& entry : textfile::split(list, ", "))
        if (codepage::equalsNoCase(entry, name)) return true;
    return false;
}

void handleJoinChannel(Server& server, ConnectionNumber connection, clsUserData& joiner,
                       const std::vector<std::string_view>& fields) {
    if (!statesOwnName(joiner, fields[0])) return;
    const std::string& name = joiner.originalName;
    std::string requested(fields[1]);
    if (codepage::equalsNoCase(requested, texts::mainChannel)) requested = texts::mainChannel;
    if (codepage::equalsNoCase(requested, texts::voidChannel)) requested = texts::voidChannel;
    if (requested.size() > maxChannelLength)
        return sendNotice(server, connection, kTooLong, NoticeKind::refusal);

    std::string listName = joiner.listName;
    std::string previous = joiner.channel;
    std::string key = codepage::toLower(requested);

    if (joiner.authString != "normal") {
        // A channel ban lasts while some staff member stays in the channel.
        if (!otherStaffIn(server, connection, previous)) server.channelBans.erase(codepage::toLower(previous));
    } else {
        auto bans = server.channelBans.find(key);
        if (bans != server.channelBans.end() && listHoldsName(bans->second, name))
            return sendNotice(server, connection, "You are banned from channel " + requested + ".", NoticeKind::refusal);
        if (isRestricted(server, requested)) return sendNotice(server, connection, kRestricted, NoticeKind::refusal);
    }

    tellChannel(server, connection, previous, shareFrame(server, out::pktUserLeftChannel, listName));
    auto spelling = server.channelNames.find(key);
    if (spelling == server.channelNames.end()) server.channelNames.emplace(key, requested);
    else requested = spelling->second;
    enterChannel(server, connection, joiner, requested);
    tellChannel(server, connection, requested, shareFrame(server, out::pktUserJoinedChannel, listName));

    addChat(server, {{colour::yellow, name},
                     {colour::white, " has joined the channel "},
                     {colour::cyan, requested}});
    sendPacket(server, out::pktJoinResult, connection, joinFields({requested, "success"}));
}

void handleChannelUsers(Server& server, ConnectionNumber connection, const clsUserData& asker) {
    std::vector<std::string> names;
    for (const auto& [number, record] : server.users)
        if (codepage::equalsNoCase(record.channel, asker.channel)) names.push_back(record.listName);
    sendPacket(server, out::pktUserList, connection, joinNonEmpty(names, ", "));
}

}  // namespace murmur
