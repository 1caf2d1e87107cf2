#include "staff/Bans.h"

#include "core/ChatView.h"
#include "core/DataFiles.h"
#include "host/TextFile.h"

namespace murmur {

std::string checkBans(Server& server, std::string_view name, std::string_view address) {
    if (listHolds(server.dataFiles.bannedNames, server.path(files::bannedNames), name)) return "banned";
    if (listHolds(server.dataFiles.bannedAddresses, server.path(files::bannedAddresses), address)) return "ipbanned";
    return "";
}

void appendBan(Server& server, std::string_view name) {
    std::string path = server.path(files::bannedNames);
    if (!textfile::appendLine(path, name))
        addChat(server, {{colour::red, "The ban of " + std::string(name) + " could not be written to " + path + "."}});
}

}  // namespace murmur
