// Every whole packet a client sends arrives here, and meets the preconditions of its id in one
// table before its handler runs.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/Server.h"

namespace murmur {

void dispatchPacket(Server& server, std::uint8_t id, ConnectionNumber connection, std::string_view payload);

}  // namespace murmur
