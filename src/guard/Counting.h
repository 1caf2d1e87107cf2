// The counts that spam control and load control act on: chat lines and logons per connection.
#pragma once

#include "core/Server.h"

namespace murmur {

// A chat line from the connection, counted while spam control is on; the first starts the window.
void countChatLine(Server& server, ConnectionNumber connection);
// A logon attempt on the connection number, counted always; while load control is on the first
// starts the window.
void countLogon(Server& server, ConnectionNumber connection);

}  // namespace murmur
