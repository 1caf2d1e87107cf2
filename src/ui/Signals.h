// SIGINT and SIGTERM end the server the orderly way: the handler runs on the event loop, not in
// the signal's context.
#pragma once

#include <functional>

namespace murmur {

void onTerminationSignal(std::function<void()> handler);

}  // namespace murmur
