// The timers that protect the server and keep it tidy: keep-alive and reaping of dead clients,
// spam control, load control, and the idle announcements.
#pragma once

#include <string>

#include "core/Server.h"

namespace murmur {

constexpr int keepAlivePeriod = 800;
constexpr int reapingPeriod = 250;
constexpr int idlePeriod = 60000;

// Gives each timer its tick and its fixed period.
void attachGuardTimers(Server& server);

void keepAliveTick(Server& server);
void reapingTick(Server& server);
void spamTick(Server& server);
void loadTick(Server& server);
void idleTick(Server& server);

// The logon name of a user picked at random, or "%EMPTY%" when there is nobody to pick.
std::string randomUserName(Server& server);

}  // namespace murmur
