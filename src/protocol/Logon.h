// The logon handshake: from a fresh connection to a user in "Main", or a refusal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Server.h"

namespace murmur {

// The longest logon name: every client hears every name, so a long one costs them all.
constexpr std::size_t maxNameLength = 32;

// What keeps a text from being a logon name, in the order the logon tests it.
enum class NameProblem { none, space, controlOrColon, tooLong, empty, staffPrefix };
NameProblem logonNameProblem(std::string_view name);

// The operator's red line for every refused logon, in one shape that a log filter can match:
// "Logon refused for NAME from ADDRESS: REASON."
void reportRefusedLogon(Server& server, ConnectionNumber connection, std::string_view name, std::string_view reason);
// A logon without its three fields: the line, and the refusal of a client that is not compatible.
void refuseUnreadableLogon(Server& server, ConnectionNumber connection, const std::vector<std::string_view>& fields);

// Reads the files a logon looks at (rosters, ban lists, accounts) before the first client comes, so
// that nobody waits while a large account file is read.
void readLogonFiles(Server& server);

// A logon of three fields from a connection that has not logged on.
void handleLogon(Server& server, ConnectionNumber connection, clsUserData& self, const std::vector<std::string_view>& fields);

// The label of a client product code; "Unknown client" for codes not in the table.
std::string productLabel(double code);

}  // namespace murmur
