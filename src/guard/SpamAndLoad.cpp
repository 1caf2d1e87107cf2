// Spam control drops clients that chat too much in one window; load control bans connection
// numbers that log on too often in one.
#include "core/ChatView.h"
#include "core/Connections.h"
#include "core/Framing.h"
#include "core/Lookups.h"
#include "core/Packets.h"
#include "core/UserList.h"
#include "guard/Guard.h"
#include "host/CodePage.h"
#include "staff/Bans.h"

namespace murmur {
namespace {

constexpr const char* kSpamming = "You have been disconnected for spamming.";
// The wording clients have always shown, spelling included.
constexpr const char* kLoading = "You have beed banned for loading the server.";

}  // namespace

void spamTick(Server& server) {
    for (ConnectionNumber n : server.spamCounts.keys()) {
        const std::int16_t* count = server.spamCounts.find(n);
        if (!count || *count < server.settings.messageCount) continue;
        const clsUserData* record = server.users.find(n);
        if (!record) continue;  // gone since it was counted
        std::string listName = record->listName;
        std::string name = record->originalName;
        server.spamCounts.remove(n);
        // The others hear of it only when the user list still showed the user.
        bool listed = removeFirstFromUserList(
            server, [&](const std::string& entry) { return codepage::equalsNoCase(stripPrefix(entry), name); });
        addChat(server, {{colour::red, "Socket #" + std::to_string(n + 1) + " (Username: " + listName +
                                           ") has been disconnected for spamming."}});
        refreshCountLabel(server);
        sendNotice(server, n, kSpamming, NoticeKind::refusal);
        server.host.loop().yield();
        endConnection(server, n, {.tellOthers = listed});
    }
    server.spamCounts.clear();
    server.tmrHandleJunk->setEnabled(false);
}

void loadTick(Server& server) {
    for (ConnectionNumber n : server.logonCounts.keys()) {
        const std::int16_t* count = server.logonCounts.find(n);
        if (!count || *count < server.settings.amountOfConnections) continue;
        // A number beyond the loaded sockets is looked at again one period later.
        if (n >= socketCount(server)) return;
        if (!isConnected(server, n)) continue;
        sendNotice(server, n, kLoading, NoticeKind::refusal);
        if (const clsUserData* record = server.users.find(n)) appendBan(server, record->originalName);
        server.host.loop().yield();
        server.logonCounts.remove(n);
        endConnection(server, n, {.unload = true});
    }
    // The window is N logons within T seconds: counts of unrelated clients that later get the same
    // connection number must not add up.
    server.logonCounts.clear();
    server.tmrLoad->setEnabled(false);
}

}  // namespace murmur
