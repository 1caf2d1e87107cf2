// The client socket array and the life of a connection: accept onto the first free socket or a new
// one, the close a client makes, and the closes and unloads the server makes itself.
#pragma once

#include <string>

#include "core/Server.h"

namespace murmur {

int socketCount(const Server& server);
int socketState(const Server& server, int connection);
bool isConnected(const Server& server, int connection);
std::string remoteAddress(const Server& server, int connection);

// Adds a socket at the end of the array.
void loadClientSocket(Server& server);
void acceptConnection(Server& server, RequestId request);
// The client ended connection i.
void handleClose(Server& server, ConnectionNumber connection);

// Closes the socket from the server side; output already sent still goes out. No close event
// follows, so the caller does the upkeep of records and lists.
void closeSocket(Server& server, ConnectionNumber connection);
// Destroys the socket when it is the highest of the array and not socket 0, so the array keeps no
// gaps; any other socket stays loaded and free for reuse.
void unloadIfHighest(Server& server, ConnectionNumber connection);

// Closes, without a word, connections that have not logged on within the logon timeout.
void closeExpiredLogons(Server& server);
// Clients whose unsent output passed the send limit are closed as if they had left.
void dropOverflowingClients(Server& server);

}  // namespace murmur
