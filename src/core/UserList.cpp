#include "core/UserList.h"

namespace murmur {

void addToUserList(Server& server, std::string listName) {
    server.lstUsers.push_back(std::move(listName));
    server.ui().userListInserted(server.lstUsers.size() - 1);
}

bool removeFirstFromUserList(Server& server, const std::function<bool(const std::string&)>& matches) {
    for (std::size_t i = 0; i < server.lstUsers.size(); ++i) {
        if (!matches(server.lstUsers[i])) continue;
        server.lstUsers.erase(server.lstUsers.begin() + static_cast<std::ptrdiff_t>(i));
        server.ui().userListRemoved(i);
        return true;
    }
    return false;
}

void replaceUserList(Server& server, std::vector<std::string> entries) {
    server.lstUsers = std::move(entries);
    server.ui().userListReset();
}

void clearUserList(Server& server) { replaceUserList(server, {}); }

void refreshCountLabel(Server& server) {
    server.lblUsers = "Total Users: " + std::to_string(server.lstUsers.size());
    server.ui().countLabelChanged();
}

}  // namespace murmur
