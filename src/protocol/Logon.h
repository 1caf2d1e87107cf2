// The logon handshake: from a fresh connection to a user in "Main", or a refusal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Server.h"

namespace murmur {

void handleLogon(Server& server, ConnectionNumber connection, const std::vector<std::string_view>& fields);

// The notice, its delivery, the close; the record stays (it is replaced at the next accept).
void refuseAndClose(Server& server, ConnectionNumber connection, std::string_view text);
// The same, and the record goes.
void refuseAndDrop(Server& server, ConnectionNumber connection, std::string_view text);

// The stored form of a password in users.txt.
std::string hashPassword(std::string_view password);

// The label of a client product code; "Unknown client" for codes not in the table.
std::string productLabel(double code);

}  // namespace murmur
