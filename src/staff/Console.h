// The operator's console line: server messages and commands.
#pragma once

#include <string>

#include "core/Server.h"

namespace murmur {

// One entry, as if typed and sent with Enter.
void consoleEntry(Server& server, const std::string& text);

}  // namespace murmur
