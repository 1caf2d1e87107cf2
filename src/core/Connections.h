// The client socket array and the life of a connection: accept onto the first free socket or a new
// one, and the one way every connection ends, whoever ends it.
#pragma once

#include <string>
#include <string_view>

#include "core/Server.h"

namespace murmur {

// Every send asks these: they stay in the header, where the compiler can fold them in.
inline int socketCount(const Server& server) { return static_cast<int>(server.sckRecv.size()); }
inline bool isConnected(const Server& server, int connection) {
    return connection >= 0 && connection < socketCount(server) &&
           server.sckRecv[static_cast<std::size_t>(connection)].socket->state() == sckConnected;
}
int socketState(const Server& server, int connection);
std::string remoteAddress(const Server& server, int connection);

// Adds a socket at the end of the array.
void loadClientSocket(Server& server);
void acceptConnection(Server& server, RequestId request);

// How a connection ends. What the operator is told, the user list and any last word to the client
// differ from path to path and stay with the caller; these are the steps every path shares.
struct Ending {
    // pktUserLoggedOff with the record's list name to every other connected socket, before the close.
    bool tellOthers = false;
    // The record stays until the next accept on the number replaces it.
    bool keepRecord = false;
    // The socket leaves the array when it is the highest and not socket 0, so the array keeps no
    // gaps; any other socket stays loaded, closed and free for reuse.
    bool unload = false;
    // An abortive close: nothing more goes out and no descriptor lingers. For connections ended
    // without a word, which have nothing left to receive.
    bool reset = false;
};

// The peer left, or the server dropped a client as if it had: the others are told, everything goes.
constexpr Ending asIfLeft{.tellOthers = true, .unload = true};

// Closes the socket from the server side (output already sent still goes out) and does the upkeep
// the ending asks for. Safe on a socket that is already closed.
void endConnection(Server& server, ConnectionNumber connection, Ending how);

// The refusals of a client that has not logged on: the notice, its delivery, the close; the record
// stays (refuse and close) or goes too (refuse and drop).
void refuseAndClose(Server& server, ConnectionNumber connection, std::string_view text);
void refuseAndDrop(Server& server, ConnectionNumber connection, std::string_view text);

// The client ended the connection.
void handleClose(Server& server, ConnectionNumber connection);
// Closes, without a word, connections that have not logged on within the logon timeout.
void closeExpiredLogons(Server& server);
// What waits until no handler runs: clients whose unsent output passed the send limit are dropped
// as if they had left, and unloaded sockets are freed.
void afterHandlers(Server& server);

}  // namespace murmur
