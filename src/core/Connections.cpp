#include "core/Connections.h"

#include <limits>
#include <string>

#include "core/ChatView.h"
#include "core/Framing.h"
#include "core/Lookups.h"
#include "core/Membership.h"
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

SocketSlot& slotOf(Server& server, int connection) { return server.sckRecv[static_cast<std::size_t>(connection)]; }

// Gracefully, output already sent still goes out; or with a reset. No close event follows.
void closeSocket(Server& server, ConnectionNumber connection, bool reset) {
    SocketSlot& slot = slotOf(server, connection);
    if (slot.socket->state() != sckClosed) {
        --server.openConnections;
        auto it = server.connectionsPerAddress.find(hostKey(slot.address));
        if (it != server.connectionsPerAddress.end() && --it->second <= 0) server.connectionsPerAddress.erase(it);
    }
    if (reset) slot.socket->abort();
    else slot.socket->close();
    server.firstFree = std::min<int>(server.firstFree, connection);
    std::string().swap(slot.pending);
    slot.waitingOn.clear();
}

// The connection on the number is still the one that was accepted then, and waits to log on.
bool stillAwaiting(const Server& server, const AwaitingLogon& entry) {
    if (entry.number >= socketCount(server) || !isConnected(server, entry.number)) return false;
    if (server.sckRecv[static_cast<std::size_t>(entry.number)].generation != entry.generation) return false;
    const clsUserData* record = server.users.find(entry.number);
    return record && !record->hasLoggedIn;
}

// Makes room for a newcomer: the oldest connection that has not logged on (from that host, when one
// is given) goes without a word. False when every connection has logged on.
bool displaceOldestAwaiting(Server& server, const std::string* host) {
    auto& waiting = server.awaitingLogon;
    for (auto it = waiting.begin(); it != waiting.end();) {
        if (!stillAwaiting(server, *it)) {
            it = waiting.erase(it);
            continue;
        }
        if (host && hostKey(slotOf(server, it->number).address) != *host) {
            ++it;
            continue;
        }
        ConnectionNumber number = it->number;
        waiting.erase(it);
        endConnection(server, number, {.unload = true, .reset = true});
        return true;
    }
    return false;
}

// Entries of connections that have logged on or gone are dropped from the front as they are met;
// this keeps the rest from piling up behind one that waits long.
void pruneAwaiting(Server& server) {
    auto& waiting = server.awaitingLogon;
    if (waiting.size() <= 2 * static_cast<std::size_t>(server.openConnections) + 64) return;
    std::deque<AwaitingLogon> kept;
    for (const AwaitingLogon& entry : waiting)
        if (stillAwaiting(server, entry)) kept.push_back(entry);
    waiting.swap(kept);
}

void unloadIfHighest(Server& server, ConnectionNumber connection) {
    if (connection == 0 || connection != socketCount(server) - 1) return;
    // The socket may be the one whose event is running: it is freed once the handler is done.
    server.unloadedSockets.push_back(std::move(server.sckRecv.back().socket));
    server.sckRecv.pop_back();
    server.firstFree = std::min(server.firstFree, socketCount(server));
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

int socketState(const Server& server, int connection) {
    ClientSocket* socket = socketAt(server, connection);
    return socket ? socket->state() : sckClosed;
}

std::string remoteAddress(const Server& server, int connection) {
    ClientSocket* socket = socketAt(server, connection);
    return socket ? socket->remoteAddress() : std::string();
}

void acceptConnection(Server& server, RequestId request) {
    Listener& listener = server.host.listener();
    // Connections still closing hold descriptors too: they count, and go first when room is needed.
    const Limits& limits = server.limits;
    auto inUse = [&] { return static_cast<std::size_t>(server.openConnections) + server.host.loop().closingConnections(); };
    while (inUse() >= static_cast<std::size_t>(limits.maxConnections))
        if (!server.host.loop().resetOldestClosing() && !displaceOldestAwaiting(server, nullptr)) return listener.reject(request);
    std::string address = listener.requestAddress(request);
    if (limits.maxPerAddress > 0) {
        std::string host = hostKey(address);
        auto it = server.connectionsPerAddress.find(host);
        if (it != server.connectionsPerAddress.end() && it->second >= limits.maxPerAddress &&
            !displaceOldestAwaiting(server, &host))
            return listener.reject(request);
    }

    int count = socketCount(server);
    int chosen = -1;
    for (int i = std::min(server.firstFree, count); i <= count; ++i) {
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
    if (chosen < 0 || !slotOf(server, chosen).socket->accept(request)) return listener.reject(request);
    server.firstFree = chosen + 1;
    auto number = static_cast<ConnectionNumber>(chosen);
    SocketSlot& slot = slotOf(server, chosen);
    std::int32_t now = server.host.loop().tickCount();
    // Nothing of the slot's last connection stays but the socket and the count of connections.
    SocketSlot fresh;
    fresh.socket = std::move(slot.socket);
    fresh.generation = slot.generation + 1;
    fresh.address = std::move(address);
    fresh.progressTick = now;
    fresh.viewBudget = viewBurst;
    fresh.viewBudgetTick = now;
    slot = std::move(fresh);
    ++server.openConnections;
    ++server.connectionsPerAddress[hostKey(slot.address)];
    clsUserData record;
    record.hasLoggedIn = false;
    record.initialPing = now;
    putRecord(server, number, std::move(record));
    server.awaitingLogon.push_back({number, slot.generation, now});
    pruneAwaiting(server);
    if (limits.logonTimeoutSeconds > 0) server.logonTimer->setEnabled(true);
}

void endConnection(Server& server, ConnectionNumber connection, Ending how) {
    if (connection < 0 || connection >= socketCount(server)) return;
    if (how.tellOthers)
        if (const clsUserData* record = server.users.find(connection))
            sendToAllConnected(server, out::pktUserLoggedOff, record->listName, connection);
    closeSocket(server, connection, how.reset);
    if (!how.keepRecord) removeRecord(server, connection);
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
    auto& waiting = server.awaitingLogon;
    while (!waiting.empty() && now - waiting.front().accepted >= allowed) {
        AwaitingLogon entry = waiting.front();
        waiting.pop_front();
        // The connection may have logged on, or the number may have gone to a later one.
        if (stillAwaiting(server, entry)) endConnection(server, entry.number, {.unload = true, .reset = true});
    }
    if (waiting.empty()) server.logonTimer->setEnabled(false);
}

void afterHandlers(Server& server) {
    dropOverflowingClients(server);
    server.unloadedSockets.clear();
}

}  // namespace murmur
