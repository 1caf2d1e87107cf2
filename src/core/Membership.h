// The user table's comings and goings and the channel each record is in. Every record that leaves
// a channel, by a join, a kick, a move, a close or a drop, goes through here, so a channel nobody is
// in any more is forgotten: its spelling and its count go, and no client can fill the tables with
// channels it opened and left.
#pragma once

#include <string>
#include <string_view>

#include "core/Server.h"

namespace murmur {

// Stores the record under the number, replacing the one there.
void putRecord(Server& server, ConnectionNumber connection, clsUserData record);
void removeRecord(Server& server, ConnectionNumber connection);
void clearRecords(Server& server);

// The record enters the channel and leaves the one it was in.
void enterChannel(Server& server, clsUserData& record, std::string channel);
// Records in the channel, letter case aside.
int channelMemberCount(const Server& server, std::string_view channel);

}  // namespace murmur
