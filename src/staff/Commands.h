// Slash commands of staff members and of the operator's console.
#pragma once

#include <string>
#include <string_view>

#include "core/Server.h"

namespace murmur {

// callerName is the logon name of the user who typed the command, or "Server Console".
void processCommand(Server& server, std::string_view callerName, std::string_view rawText, bool fromConsole);

}  // namespace murmur
