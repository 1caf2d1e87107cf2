// Signals handled the orderly way, on the event loop rather than in the signal's context: SIGINT
// and SIGTERM end the server, SIGHUP reloads the lists an operator may have edited.
#pragma once

#include <functional>

namespace murmur {

void onSignals(std::function<void()> terminate, std::function<void()> reload);

}  // namespace murmur
