#include "core/Connections.h"

#include <limits>
#include <string>

#include "core/ChatView.h"
#include "core/Framing.h"
#include "core/UserList.h"
#include "host/CodePage.h"

namespace murmur {
namespace {

constexpr std::uint8_t pktUserLoggedOff = 4;
// Connection numbers are 16-bit; no more sockets than that range holds.
constexpr int maxSockets = std::numeric_limits<ConnectionNumber>::max() + 1;

ClientSocket* socketAt(const Server& server, int connection) {
    if (connection < 0 || connection >= socketCount(server)) return nullptr;
    return server.sckRecv[static_cast<std::size_t>(connection)].socket.get();
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
    server.sckRecv[static_cast<std::size_t>(chosen)].pending.clear();
    clsUserData record;
    record.hasLoggedIn = false;
    record.initialPing = server.host.loop().tickCount();
    server.users.put(number, std::move(record));
}

void handleClose(Server& server, ConnectionNumber connection) {
    const clsUserData* record = server.users.find(connection);
    if (!record) {
        // Nobody is left to report; the socket is still freed so the array can reuse it.
        closeSocket(server, connection);
        return;
    }
    std::string listName = record->listName;
    addChat(server, {{colour::yellow, "Connection #" + std::to_string(connection + 1) + " ("},
                     {colour::white, "from " + remoteAddress(server, connection)},
                     {colour::yellow, ") has logged out of Murmur."}});
    sendToAllConnected(server, pktUserLoggedOff, listName, connection);
    closeSocket(server, connection);
    server.users.remove(connection);
    unloadIfHighest(server, connection);
    removeFirstFromUserList(server, [&](const std::string& entry) { return codepage::equalsNoCase(entry, listName); });
    refreshCountLabel(server);
}

void closeSocket(Server& server, ConnectionNumber connection) {
    ClientSocket* socket = socketAt(server, connection);
    if (!socket) return;
    socket->close();
    server.sckRecv[static_cast<std::size_t>(connection)].pending.clear();
}

void unloadIfHighest(Server& server, ConnectionNumber connection) {
    if (connection > 0 && connection == socketCount(server) - 1) {
        server.sckRecv.back().socket->close();
        server.sckRecv.pop_back();
    }
}

}  // namespace murmur
