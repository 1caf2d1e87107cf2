#include "protocol/ChatRelay.h"

#include "core/ChatView.h"
#include "core/Connections.h"
#include "core/Framing.h"
#include "core/Lookups.h"
#include "core/Membership.h"
#include "core/Packets.h"
#include "core/Texts.h"
#include "guard/Counting.h"
#include "host/CodePage.h"
#include "staff/Commands.h"
#include "staff/Roster.h"

namespace murmur {
namespace {

constexpr const char* kNoOneHears = "No one can hear you.";

bool isBlank(std::string_view text) { return text.find_first_not_of(' ') == std::string_view::npos; }

bool isCommand(std::string_view text) {
    return !text.empty() && text[0] == '/' && codepage::toLower(text.substr(0, 3)) != "/e ";
}

}  // namespace

void handleChat(Server& server, ConnectionNumber connection, clsUserData& sender, const std::vector<std::string_view>& fields) {
    if (!statesOwnName(sender, fields[0])) return;
    const std::string& name = sender.originalName;
    std::string_view text = fields[1];
    std::string channel = sender.channel;
    if (codepage::equalsNoCase(channel, texts::voidChannel)) return;

    if (server.globalFilter.count(codepage::toLower(name))) {
        SharedFrame copy = shareFrame(server, out::pktChat, joinFields({"(Muted) " + name, text}));
        for (int i = 0; i < socketCount(server); ++i) {
            const clsUserData* record = server.users.find(static_cast<ConnectionNumber>(i));
            if (i != connection && record && (record->authString == "admin" || record->authString == "moderator"))
                sendFrame(server, i, copy);
        }
        return;
    }

    if (isCommand(text)) {
        if (text.size() > 1) processCommand(server, std::string(sender.originalName), text, false);
        return;
    }

    std::string display = std::string(staffPrefix(sender.authString)) + name;
    // Past the limit of the running window a flood is cut at once: its lines still count towards
    // the drop at the window's end, but nobody hears them in the meantime.
    if (server.settings.spamControl == "Y" && countChatLine(server, connection) > server.settings.messageCount) return;
    if (isBlank(text) || text.size() > maxChatLength) return;

    addChat(server, {{colour::yellow, "<" + display + " (Channel: "},
                     {colour::cyan, channel},
                     {colour::yellow, ")> "},
                     {colour::white, std::string(text)}});

    // The channel's members and the phantoms, each in ascending connection order, walked as one.
    const std::vector<ConnectionNumber>& members = channelMembers(server, channel);
    const std::vector<ConnectionNumber>& phantoms = server.channelPhantoms;
    bool anyoneElse = members.size() > 1;
    if (!anyoneElse) sendNotice(server, connection, kNoOneHears, NoticeKind::information);
    SharedFrame line = anyoneElse ? shareFrame(server, out::pktChat, joinFields({display, text})) : SharedFrame{};
    SharedFrame phantomCopy;
    if (!phantoms.empty()) phantomCopy = shareFrame(server, out::pktChat, joinFields({"(" + channel + ") " + display, text}));
    if (phantoms.empty()) {
        if (anyoneElse)
            for (ConnectionNumber member : members)
                if (member != connection) sendFrame(server, member, line);
        return;
    }
    std::size_t m = anyoneElse ? 0 : members.size(), p = 0;
    while (m < members.size() || p < phantoms.size()) {
        bool member = p == phantoms.size() || (m < members.size() && members[m] <= phantoms[p]);
        ConnectionNumber next = member ? members[m] : phantoms[p];
        if (member && p < phantoms.size() && phantoms[p] == next) ++p;  // a phantom in the channel hears it once
        member ? ++m : ++p;
        if (next != connection) sendFrame(server, next, member ? line : phantomCopy);
    }
}

void handleWhisper(Server& server, ConnectionNumber connection, const clsUserData& sender,
                   const std::vector<std::string_view>& fields) {
    if (!statesOwnName(sender, fields[0])) return;
    const std::string& from = sender.originalName;
    std::string_view to = fields[1];
    std::string_view text = fields[2];
    for (const auto& [number, record] : server.users) {
        if (!codepage::equalsNoCase(record.originalName, to) || !isConnected(server, number)) continue;
        addChat(server, {{colour::white, "<From "},
                         {colour::yellow, from},
                         {colour::white, " to "},
                         {colour::yellow, std::string(to)},
                         {colour::white, "> " + std::string(text)}});
        sendPacket(server, out::pktWhisper, number, joinFields({from, text}));
        return;
    }
    sendNotice(server, connection, texts::notOnline, NoticeKind::refusal);
}

}  // namespace murmur
