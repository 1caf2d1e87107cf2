// Name lookups shared by the handlers and the commands.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Membership.h"
#include "core/Server.h"

namespace murmur {

clsUserData* findRecordByName(Server& server, std::string_view name);
// Whether the name a client states in a packet is its own logon name (letter case aside). The
// server acts under the name it knows; a packet stating anyone else's is not the sender's to send.
bool statesOwnName(const clsUserData& sender, std::string_view stated);
// Whether the user of that name is in the channel (letter case aside).
bool isUserInChannel(const Server& server, std::string_view channel, std::string_view name);
// The text without any "@" or "%".
std::string stripPrefix(std::string_view text);
// Administrators ("%") first, then moderators ("@"), then everybody else, each group in its old
// order; empty names are dropped.
std::vector<std::string> sortByRank(const std::vector<std::string>& names);
std::vector<std::string> sortByRank(std::string_view list);
// The list names of every record, in table order (records not logged on give empty names).
std::vector<std::string> listNamesInTableOrder(const Server& server);
// What limits per address count under: the address, or for IPv6 its /64, which one host usually
// holds whole.
std::string hostKey(std::string_view address);
// Whether the channel is on the restricted list, without regard to letter case.
bool isRestricted(const Server& server, std::string_view channel);
// Every non-empty entry, each followed by the separator, and the last separator dropped.
std::string joinNonEmpty(const std::vector<std::string>& entries, std::string_view separator);

}  // namespace murmur
