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

// A logon of three fields from a connection that has not logged on.
void handleLogon(Server& server, ConnectionNumber connection, clsUserData& self, const std::vector<std::string_view>& fields);

// The stored form of a password in users.txt.
std::string hashPassword(std::string_view password);

// The label of a client product code; "Unknown client" for codes not in the table.
std::string productLabel(double code);

}  // namespace murmur
