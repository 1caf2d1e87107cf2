// The one place that knows every layer: it puts the protocol's dispatch, the console and the
// protection timers into a fresh server. The program, the tests and the fuzz target all call it.
#pragma once

#include "core/Server.h"

namespace murmur {

void wireHandlers(Server& server);

}  // namespace murmur
