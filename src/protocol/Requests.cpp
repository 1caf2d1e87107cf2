#include "protocol/Requests.h"

#include <limits>
#include <unordered_set>

#include "core/ChatView.h"
#include "core/Connections.h"
#include "core/Framing.h"
#include "core/Lookups.h"
#include "core/Packets.h"
#include "host/CodePage.h"

namespace murmur {
namespace {

constexpr const char* kUserNotFound = "Request error: user not found.";
constexpr const char* kNoMatch = "%NULL%";

// Every record's list name followed by ", ", end to end.
std::string allListNames(const Server& server) {
    std::string out;
    for (const auto& [number, record] : server.users) {
        out += record.listName;
        out += ", ";
    }
    return out;
}

}  // namespace

std::int16_t digitsOf(std::string_view text) {
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') continue;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<std::int16_t>::max()) throw ClientFault("board position out of range");
    }
    return static_cast<std::int16_t>(value);
}

int queueSharerCount(const Server& server) {
    int count = 0;
    for (const auto& [number, record] : server.users) count += record.isQueueSharing;
    return count;
}

void handleInfoRequest(Server& server, ConnectionNumber connection, std::string_view name) {
    const clsUserData* found = findRecordByName(server, name);
    if (!found) return sendNotice(server, connection, kUserNotFound, NoticeKind::refusal);
    std::string details = std::to_string(found->ping) + "|" + found->product + "|" + found->channel;
    sendPacket(server, out::pktInfoReply, connection, joinFields({found->originalName, details}));
}

void handleGameQuery(Server& server, const clsUserData& asker, const std::vector<std::string_view>& fields) {
    std::string_view command = fields[0];
    std::string target;
    for (char c : fields[1])
        if (c != '\x12') target.push_back(c);
    const std::string& from = asker.originalName;

    addChat(server, {{colour::green, "Tic-Tac-Toe Query: " + std::string(command) + " from " + from + " to " + target +
                                         " len: " + std::to_string(target.size())}});
    std::string lowered = codepage::toLower(command);
    for (const auto& [number, record] : server.users) {
        if (!codepage::equalsNoCase(record.originalName, target)) continue;
        if (lowered == "board move" || lowered == "start prepare") {
            if (fields.size() < 3) throw ClientFault("game query without its argument");
            if (lowered == "board move")
                sendPacket(server, out::pktGameQuery, number,
                           joinFields({"board move", from, std::to_string(digitsOf(fields[2]))}));
            else
                sendPacket(server, out::pktGameQuery, number, joinFields({command, from, fields[2] == "O" ? "X" : "O"}));
        } else {
            sendPacket(server, out::pktGameQuery, number, joinFields({command, from}));
        }
    }
}

void handleKeepAliveReply(clsUserData& sender) {
    if (sender.numReplies < std::numeric_limits<std::int16_t>::max()) ++sender.numReplies;
}

void handleNameLookup(Server& server, ConnectionNumber connection, std::string_view name) {
    for (const auto& entry : server.lstUsers) {
        std::string stripped = stripPrefix(entry);
        if (codepage::equalsNoCase(stripped, name))
            return sendPacket(server, out::pktNameLookupReply, connection, stripped);
    }
    sendPacket(server, out::pktNameLookupReply, connection, kNoMatch);
}

void handleStatsRequest(Server& server, ConnectionNumber connection) {
    std::unordered_set<std::string> channels;
    for (const auto& [number, record] : server.users) channels.insert(codepage::toLower(record.channel));
    std::string names = allListNames(server);
    if (names.size() >= 2) names.resize(names.size() - 2);
    sendPacket(server, out::pktStats, connection,
               joinFields({std::to_string(server.users.count()), std::to_string(channels.size()), names}));
}

void handleAllUsersRequest(Server& server, ConnectionNumber connection) {
    std::string names = allListNames(server);
    if (names.size() > 2) names.resize(names.size() - 2);
    sendPacket(server, out::pktAllUsers, connection, names);
}

void handleQueueShare(Server& server, const clsUserData& sender, std::string_view payload) {
    if (!sender.isQueueSharing) return;
    for (int i = 0; i < socketCount(server); ++i) {
        auto number = static_cast<ConnectionNumber>(i);
        const clsUserData* record = server.users.find(number);
        if (!isConnected(server, i) || !record || !record->isQueueSharing || server.queueRound.count(number)) continue;
        sendPacket(server, out::pktQueueShare, i, payload);
        server.queueRound.insert(number);
        break;
    }
    if (static_cast<int>(server.queueRound.size()) >= queueSharerCount(server)) server.queueRound.clear();
}

}  // namespace murmur
