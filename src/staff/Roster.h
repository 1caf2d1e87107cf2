// Who is staff: admin.txt and mods.txt in the data directory, one name per line, read again
// whenever the file changed, so that edits take effect at the next logon.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Server.h"

namespace murmur {

struct StaffRank {
    std::string name;   // "admin", "moderator" or "normal"
    std::uint8_t code;  // 1, 2 or 3
};

StaffRank lookupStaff(Server& server, std::string_view name);

// The display prefix of a rank: "%" for administrators, "@" for moderators.
std::string_view staffPrefix(std::string_view rank);

}  // namespace murmur
