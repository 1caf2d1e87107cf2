// What users say: chat lines (with emotes and slash commands) to their channel, and whispers.
#pragma once

#include <string_view>
#include <vector>

#include "core/Server.h"

namespace murmur {

constexpr std::size_t maxChatLength = 200;

void handleChat(Server& server, ConnectionNumber connection, clsUserData& sender, const std::vector<std::string_view>& fields);
void handleWhisper(Server& server, ConnectionNumber connection, const clsUserData& sender,
                   const std::vector<std::string_view>& fields);

}  // namespace murmur
