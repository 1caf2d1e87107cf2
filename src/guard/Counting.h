// The counts that spam control and load control act on: chat lines and logons per connection.
#pragma once

#include "core/Server.h"

namespace murmur {

// A chat line from the connection, counted while spam control is on; the first starts the window.
// Returns the connection's count in the window, this line included.
std::int16_t countChatLine(Server& server, ConnectionNumber connection);
// A logon attempt on the connection number, counted always; while load control is on the first
// starts the window.
void countLogon(Server& server, ConnectionNumber connection);

}  // namespace murmur
