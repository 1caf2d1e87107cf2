// Start-up, the reading of MMConf.ini, the listener, and shutdown.
#pragma once

#include <cstdint>
#include <string>

#include "core/Server.h"

namespace murmur {

constexpr const char* iniFileName = "MMConf.ini";

void startUp(Server& server);
// Reads every setting from MMConf.ini and starts the listener.
void loadVariables(Server& server);
// Writes the settings back to MMConf.ini unless an alternate port was used in this run.
void shutDown(Server& server);

// The configured port was taken and the operator chose another. Returns false, changing nothing,
// when that port cannot be taken either.
bool listenOnAlternatePort(Server& server, std::int16_t port);
// What the operator is asked while a port cannot be taken.
std::string alternatePortQuestion(int port);

}  // namespace murmur
