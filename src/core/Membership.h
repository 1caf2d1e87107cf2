// The user table's comings and goings and the channel each record is in. Every record that leaves
// a channel, by a join, a kick, a move, a close or a drop, goes through here, so a channel nobody is
// in any more is forgotten: its spelling and its members go, and no client can fill the tables with
// channels it opened and left. Each channel keeps its members in connection order, so that a line
// said in it goes to them without a look at anybody else.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Server.h"

namespace murmur {

// Stores the record under the number, replacing the one there.
void putRecord(Server& server, ConnectionNumber connection, clsUserData record);
void removeRecord(Server& server, ConnectionNumber connection);
void clearRecords(Server& server);

// The record of the connection takes the logon name (and leaves the one it held).
void nameRecord(Server& server, ConnectionNumber connection, clsUserData& record, std::string name);

// The record of the connection enters the channel and leaves the one it was in.
void enterChannel(Server& server, ConnectionNumber connection, clsUserData& record, std::string channel);
// The connections whose records are in the channel (letter case aside), in ascending order.
const std::vector<ConnectionNumber>& channelMembers(const Server& server, std::string_view channel);

// The first record in table order whose logon name is the name (letter case aside), or -1.
int findUserByName(const Server& server, std::string_view name);

// Whether the user hears every channel; channel phantoms, in ascending order.
void setChannelPhantom(Server& server, ConnectionNumber connection, clsUserData& record, bool on);

}  // namespace murmur
