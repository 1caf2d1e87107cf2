// Requests about users, the keep-alive reply, the game relay and the queue relay.
#pragma once

#include <string_view>
#include <vector>

#include "core/Server.h"

namespace murmur {

void handleInfoRequest(Server& server, ConnectionNumber connection, std::string_view name);
// At least two fields: the command and its target.
void handleGameQuery(Server& server, const clsUserData& asker, const std::vector<std::string_view>& fields);
void handleKeepAliveReply(clsUserData& sender);
void handleNameLookup(Server& server, ConnectionNumber connection, std::string_view name);
void handleStatsRequest(Server& server, ConnectionNumber connection);
void handleAllUsersRequest(Server& server, ConnectionNumber connection);
void handleQueueShare(Server& server, const clsUserData& sender, std::string_view payload);

// The decimal digits of the text read as one 16-bit number; 0 when there are none.
std::int16_t digitsOf(std::string_view text);
int queueSharerCount(const Server& server);

}  // namespace murmur
