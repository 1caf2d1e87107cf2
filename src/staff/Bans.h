// Server bans: banned.txt (names) and IPs.txt (addresses) in the data directory, read again
// whenever the file changed, so that hand edits take effect at the next logon.
#pragma once

#include <string>
#include <string_view>

#include "core/Server.h"

namespace murmur {

// "banned" when the name is listed, else "ipbanned" when the address is, else "".
std::string checkBans(Server& server, std::string_view name, std::string_view address);
// Adds the name as one line of banned.txt, unchanged; a failure is reported to the operator.
void appendBan(Server& server, std::string_view name);

}  // namespace murmur
