// Dead clients are found by pinging: five pings, and fewer than three answers, end a connection.
#include <limits>

#include "core/ChatView.h"
#include "core/Connections.h"
#include "core/Framing.h"
#include "core/Packets.h"
#include "core/UserList.h"
#include "guard/Guard.h"

namespace murmur {
namespace {

constexpr std::int16_t kPingsPerCheck = 5;
constexpr std::int16_t kRepliesNeeded = 3;

}  // namespace

void keepAliveTick(Server& server) {
    SharedFrame ping = shareFrame(server, out::pktKeepAlive, "");
    for (int n = 0; n < socketCount(server); ++n) {
        clsUserData* record = server.users.find(static_cast<ConnectionNumber>(n));
        if (!record || !record->hasLoggedIn || !isConnected(server, n)) continue;
        sendFrame(server, n, ping);
        if (record->numRequests < std::numeric_limits<std::int16_t>::max()) ++record->numRequests;
    }
    server.tmrKeepAlive->setEnabled(false);
    server.tmrKillClients->setEnabled(true);
}

void reapingTick(Server& server) {
    for (ConnectionNumber n : server.users.keys()) {
        clsUserData* record = server.users.find(n);
        if (!record || record->numRequests != kPingsPerCheck) continue;
        if (record->numReplies >= kRepliesNeeded) {
            record->numRequests = 0;
            record->numReplies = 0;
            continue;
        }
        std::string listName = record->listName;
        if (removeFirstFromUserList(server, [&](const std::string& entry) { return entry == listName; }))
            refreshCountLabel(server);
        addChat(server, {{colour::red, "Socket #" + std::to_string(n + 1) + " is stale. Socket has been disconnected."}});
        endConnection(server, n, {.tellOthers = true});
    }
    server.tmrKillClients->setEnabled(false);
    server.tmrKeepAlive->setEnabled(true);
}

}  // namespace murmur
