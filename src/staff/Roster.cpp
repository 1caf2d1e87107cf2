#include "staff/Roster.h"

#include "core/DataFiles.h"
#include "host/TextFile.h"

namespace murmur {

StaffRank lookupStaff(Server& server, std::string_view name) {
    if (listHolds(server.dataFiles.administrators, server.path(files::administrators), name)) return {"admin", 1};
    if (listHolds(server.dataFiles.moderators, server.path(files::moderators), name)) return {"moderator", 2};
    return {"normal", 3};
}

std::string_view staffPrefix(std::string_view rank) {
    if (rank == "admin") return "%";
    if (rank == "moderator") return "@";
    return "";
}

}  // namespace murmur
