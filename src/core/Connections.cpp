#include "core/Connections.h"

#include <limits>
#include <string>

#include "core/ChatView.h"
#include "core/Framing.h"
#include "core/Packets.h"
#include "core/UserList.h"
#include "host/CodePage.h"

namespace murmur {
namespace {

// Connection numbers are 16-bit; no more sockets than that range holds.
constexpr int maxSockets = std::numeric_limits<ConnectionNumber>::max() + 1;

ClientSocket* socketAt(const Server& server, int connection) {
    if (connection < 0 || connection >= socketCount(server)) return nullptr;
    return server.sckRecv[static_cast<std::size_t>(connection)].socket.get();
}

// Output already sent still goes out; no close event follows.
void closeSocket(Server& server, ConnectionNumber connection) {
    SocketSlot& slot = server.sckRecv[static_cast<std::size_t>(connection)];
    if (slot.socket->state() != sckClosed) --server.openConnections;
    slot.socket->close();
    slot.pending.clear();
}

void unloadIfHighest(Server& server, ConnectionNumber connection) {
    if (connection == 0 || connection != socketCount(server) - 1) return;
    // The socket may be the one whose event is running: it is freed once the handler is done.
    server.unloadedSockets.push_back(std::move(server.sckRecv.back().socket));
    server.sckRecv.pop_back();
}

void dropOverflowingClients(Server& server) {
    while (!server.overflowing.empty()) {
        ConnectionNumber number = server.overflowing.back();
        server.overflowing.pop_back();
        if (number >= socketCount(server)) continue;
        SocketSlot& slot = server.sckRecv[static_cast<std::size_t>(number)];
        if (!slot.overflowing) continue;  // the slot has been taken by a newcomer since
        slot.overflowing = false;
        if (isConnected(server, number)) handleClose(server, number);
    }
}

}  // namespace

void loadClientSocket(Server& server) {
    auto index = static_cast<ConnectionNumber>(server.sckRecv.size());
    SocketSlot slot;
    slot.socket = server.host.createClientSocket();
    slot.socket->setEvents({[&server, index] { receiveData(server, index); },
                            [&server, index] { handleClose(server, index); }});
    server.sckRecv.push_back(std::move(slot));
}

int socketCount(const Server& server) { return static_cast<int>(server.sckRecv.size()); }

int socketState(const Server& server, int connection) {
    ClientSocket* socket = socketAt(server, connection);
    return socket ? socket->state() : sckClosed;
}

bool isConnected(const Server& server, int connection) { return socketState(server, connection) == sckConnected; }

std::string remoteAddress(const Server& server, int connection) {
    ClientSocket* socket = socketAt(server, connection);
    return socket ? socket->remoteAddress() : std::string();
}

void acceptConnection(Server& server, RequestId request) {
    if (server.openConnections >= server.limits.maxConnections) {
        server.host.listener().reject(request);
        return;
    }
    int count = socketCount(server);
    int chosen = -1;
    for (int i = 0; i <= count; ++i) {
        if (i == count) {
            if (count >= maxSockets) break;
            loadClientSocket(server);
            chosen = i;
            break;
        }
        if (socketState(server, i) == sckClosed) {
            chosen = i;
            break;
        }
    }
    if (chosen < 0 || !server.sckRecv[static_cast<std::size_t>(chosen)].socket->accept(request)) {
        server.host.listener().reject(request);
        return;
    }
    auto number = static_cast<ConnectionNumber>(chosen);
    SocketSlot& slot = server.sckRecv[static_cast<std::size_t>(chosen)];
    slot.pending.clear();
    slot.overflowing = false;
    ++server.openConnections;
    std::int32_t now = server.host.loop().tickCount();
    clsUserData record;
    record.hasLoggedIn = false;
    record.initialPing = now;
    server.users.put(number, std::move(record));
    if (server.limits.logonTimeoutSeconds > 0) {
        server.logonDeadlines.emplace_back(number, now);
        server.logonTimer->setEnabled(true);
    }
}

void endConnection(Server& server, ConnectionNumber connection, Ending how) {
    if (connection < 0 || connection >= socketCount(server)) return;
    if (how.tellOthers)
        if (const clsUserData* record = server.users.find(connection))
            sendToAllConnected(server, out::pktUserLoggedOff, record->listName, connection);
    closeSocket(server, connection);
    if (!how.keepRecord) server.users.remove(connection);
    if (how.unload) unloadIfHighest(server, connection);
}

void refuseAndClose(Server& server, ConnectionNumber connection, std::string_view text) {
    sendNotice(server, connection, text, NoticeKind::refusal);
    server.host.loop().yield();
    endConnection(server, connection, {.keepRecord = true});
}

void refuseAndDrop(Server& server, ConnectionNumber connection, std::string_view text) {
    sendNotice(server, connection, text, NoticeKind::refusal);
    server.host.loop().yield();
    endConnection(server, connection, {});
}

void handleClose(Server& server, ConnectionNumber connection) {
    const clsUserData* record = server.users.find(connection);
    // Nobody is left to report; the socket is still freed so the array can reuse it.
    if (!record) return endConnection(server, connection, {.keepRecord = true});
    std::string listName = record->listName;
    addChat(server, {{colour::yellow, "Connection #" + std::to_string(connection + 1) + " ("},
                     {colour::white, "from " + remoteAddress(server, connection)},
                     {colour::yellow, ") has logged out of Murmur."}});
    endConnection(server, connection, asIfLeft);
    removeFirstFromUserList(server, [&](const std::string& entry) { return codepage::equalsNoCase(entry, listName); });
    refreshCountLabel(server);
}

void closeExpiredLogons(Server& server) {
    std::int32_t now = server.host.loop().tickCount();
    std::int32_t allowed = server.limits.logonTimeoutSeconds * 1000;
    auto& waiting = server.logonDeadlines;
    while (!waiting.empty() && now - waiting.front().second >= allowed) {
        auto [number, accepted] = waiting.front();
        waiting.pop_front();
        const clsUserData* record = server.users.find(number);
        // The record may have logged on, or the number may have gone to a later connection.
        if (!record || record->hasLoggedIn || record->initialPing != accepted || !isConnected(server, number)) continue;
        endConnection(server, number, {.unload = true});
    }
    if (waiting.empty()) server.logonTimer->setEnabled(false);
}

void afterHandlers(Server& server) {
    dropOverflowingClients(server);
    server.unloadedSockets.clear();
}

}  // namespace murmur
