// Channels: joins under their length, ban and restriction rules, and who is in one's channel.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Server.h"

namespace murmur {

constexpr std::size_t maxChannelLength = 15;

void handleJoinChannel(Server& server, ConnectionNumber connection, clsUserData& joiner,
                       const std::vector<std::string_view>& fields);
void handleChannelUsers(Server& server, ConnectionNumber connection, const clsUserData& asker);

// Whether the ", "-joined list holds the name, letter case aside.
bool listHoldsName(std::string_view list, std::string_view name);

}  // namespace murmur
