// The operator's console on a running server, through its control socket, without a window and
// without a server of its own: --attach for a person at a terminal, --console for a script.
#pragma once

#include <string>

namespace murmur {

// Shows the server's recent lines, then every new one; each line of standard input is a console
// entry. Returns 0 at the end of input (the server goes on), 1 when there is no server or it went.
int attachConsole(const std::string& dataDirectory, bool colours);

// Sends one console entry and shows the lines the server writes in the short while after it.
// Returns 0, or 1 when no server runs there.
int sendConsoleEntry(const std::string& dataDirectory, const std::string& utf8, bool colours);

}  // namespace murmur
