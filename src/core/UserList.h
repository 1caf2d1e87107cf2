// The operator's user list (the list names of logged-on users) and its count label.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Server.h"

namespace murmur {

void addToUserList(Server& server, std::string listName);
// Removes the first entry that matches; returns whether one went.
bool removeFirstFromUserList(Server& server, const std::function<bool(const std::string&)>& matches);
void replaceUserList(Server& server, std::vector<std::string> entries);
void clearUserList(Server& server);
// "Total Users: " and the number of entries in the user list.
void refreshCountLabel(Server& server);

}  // namespace murmur
