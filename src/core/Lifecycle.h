// Start-up, the reading of MMConf.ini, the listener, and shutdown.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Server.h"

namespace murmur {

void startUp(Server& server);
// Reads every setting from MMConf.ini and starts the listener.
void loadVariables(Server& server);
// Reads the restricted and allowed channel lists and the idle messages from their files.
void readLists(Server& server);
// The same while the server runs, with one operator line saying what was read.
void reloadLists(Server& server);
// Writes the settings back to MMConf.ini unless an alternate port was used in this run.
void shutDown(Server& server);

// The configured port was taken and the operator chose another. Returns false, changing nothing,
// when that port cannot be taken either.
bool listenOnAlternatePort(Server& server, std::int16_t port);
// What the operator is asked while a port cannot be taken.
std::string alternatePortQuestion(int port);

constexpr const char* enterNumericValue = "Enter a numeric value.";
constexpr const char* portRangeMessage = "Port must be a whole number from 1 to 32767.";

// A port as the operator typed it: numeric text, and a port the listener can take (port 0 would
// let the system pick one that nobody knows to connect to).
enum class PortEntry { valid, notNumeric, outOfRange };
PortEntry readPortEntry(std::string_view text, std::int16_t& port);

}  // namespace murmur
